#!/bin/bash
# wine_session_test.sh DIR: a Wine session whose owner is stopped by Ctrl+C,
# while the session starts and once it is up, leaves nothing running: no
# Xvfb, no watcher. Ctrl+C reaches the owner's process group, as a terminal
# sends it.
set -u
session=$(cd "$(dirname "$0")/.." && pwd)/scripts/wine-session
dir=$1
# A prefix taken as made: this is about the X server and the watcher, not Wine.
mkdir -p "$dir/prefix"
touch "$dir/prefix/.ready"

# The processes that still belong to the session in DIR.
leftovers() {
    local pid
    for pid in /proc/[0-9]*; do
        { ls -l "$pid/fd" | grep -q -- "$dir/xvfb.log" ||
            tr '\0' ' ' <"$pid/cmdline" | grep -q -- "watcher .* $dir\$"; } 2>/dev/null &&
            echo "${pid#/proc/}"
    done
}

# A group of its own that takes Ctrl+C: what a background job of a script
# starts ignores it.
owner() {
    python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.setsid()
os.execvp("bash", ["bash", "-c"] + sys.argv[1:])' "$@" &
}

failed=0
for moment in 0.05 0.2 up; do
    rm -f "$dir/owner.started" "$dir/owner.up"
    owner ': >"$2/owner.started"; "$1" start "$2" win64 >/dev/null 2>&1; : >"$2/owner.up"; sleep 60' \
        owner "$session" "$dir"
    owner=$!
    if [ "$moment" = up ]; then
        for _ in $(seq 100); do [ -f "$dir/owner.up" ] && break; sleep 0.1; done
    else
        for _ in $(seq 100); do [ -f "$dir/owner.started" ] && break; sleep 0.05; done
        sleep "$moment"
    fi
    kill -INT -- -"$owner" || echo "the owner ended before Ctrl+C"
    wait "$owner"
    for _ in $(seq 50); do [ -z "$(leftovers)" ] && break; sleep 0.2; done
    left=$(leftovers)
    if [ -n "$left" ]; then
        echo "Ctrl+C at $moment: expected nothing left running, got: $left"
        failed=1
        # Tidy up for the next case.
        "$session" stop "$dir"
    else
        echo "Ctrl+C at $moment: nothing left running"
    fi
done
exit $failed
