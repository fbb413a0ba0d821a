#!/bin/bash
# Builds Release PassWord.exe and prints, for this machine: its size, the time
# from CreateProcess to a visible window, the verdict latency over 200 entries,
# and what 1,000 more entries do to the process's private memory, handles and
# windows. Runs under Wine in a virtual desktop on a private Xvfb; where 32-bit
# programs cannot run (or WINE32=0), it times the 64-bit build and says so.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup

dir=$(WINE_SESSION_OWNER=$$ bash scripts/wine-session best "$PWD/build/bench")
trap 'bash scripts/wine-session stop "$dir"' EXIT
arch=$(cat "$dir/arch") preset=mingw
if [ "$arch" = win64 ]; then
    echo "the 64-bit build, since 32-bit programs cannot run here: $(cat "$PWD/build/bench/win32/unable")"
    preset=mingw64
fi
. scripts/quietly.sh
quietly cmake --preset $preset
quietly cmake --build --preset $preset --target latency
bin=build/$preset/bin

echo "date: $(date -u +%Y-%m-%d)"
echo "machine: $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(free -g | awk '/Mem:/ {print $2}') GiB; $(cmake/wine-run "$dir" --version)"
echo "PassWord.exe ($arch): $(stat -c %s $bin/PassWord.exe) bytes"
set -a
. build/$preset/generated/password.env
set +a
LC_ALL=ru_RU.UTF-8 cmake/wine-run "$dir" $bin/latency.exe | tr -d '\r'
