#!/bin/bash
# refused.sh STATUS MESSAGE COMMAND...: COMMAND must exit with STATUS and say
# one line, starting with MESSAGE; never a traceback.
status=$1 message=$2
shift 2
said=$("$@" 2>&1)
got=$?
printf '%s\n' "$said"
[ "$got" = "$status" ] || { echo "expected exit status $status, got $got"; exit 1; }
[ "$(printf '%s\n' "$said" | wc -l)" = 1 ] && [[ $said == "$message"* ]] || { echo "expected one line: $message..."; exit 1; }
