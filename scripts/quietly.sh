# Sourced by the scripts: quietly COMMAND... runs it with its output kept
# aside, and shows that output only where the command fails, so that a
# compiler's error never ends a script without a word.
quietly() {
    local log status=0
    log=$(mktemp)
    "$@" >"$log" 2>&1 || status=$?
    if [ "$status" != 0 ]; then
        echo "failed ($status): $*" >&2
        cat "$log" >&2
    fi
    rm -f "$log"
    return "$status"
}
