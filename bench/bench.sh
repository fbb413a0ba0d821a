#!/bin/bash
# Builds Release PassWord.exe and prints, for this machine: its size, the time
# from CreateProcess to a visible window, the verdict latency over 200 entries,
# and what 1,000 more entries do to the process's private memory, handles and
# windows. Runs under Wine in a virtual desktop on a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target latency >/dev/null
bin=build/mingw/bin
dir=$PWD/build/bench

echo "date: $(date -u +%Y-%m-%d)"
echo "machine: $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(free -g | awk '/Mem:/ {print $2}') GiB; $(wine --version)"
echo "PassWord.exe: $(stat -c %s $bin/PassWord.exe) bytes"

bash scripts/wine-session start "$dir" >/dev/null
trap 'bash scripts/wine-session stop "$dir"' EXIT
set -a
. build/mingw/generated/password.env
set +a
LANG=ru_RU.UTF-8 cmake/wine-run "$dir" $bin/latency.exe | tr -d '\r'
