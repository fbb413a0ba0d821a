#!/bin/bash
# Times scripts/class-set on a 100-person set, against what one release
# preset configure and build per person would take (measured on 3 people in
# the same run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup
dir=$(mktemp -d "${TMPDIR:-/tmp}/class-set-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
for i in $(seq 100); do echo "Person $i"; done >"$dir/roster.txt"

echo "date: $(date -u +%Y-%m-%d)"
echo "machine: $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(free -g | awk '/Mem:/ {print $2}') GiB"
ms() { echo $(($(date +%s%N) / 1000000)); }
start=$(ms)
bash scripts/class-set build "$dir/roster.txt" "$dir/set" 2>/dev/null | tail -1
set_ms=$(($(ms) - start))

start=$(ms)
for i in 1 2 3; do
    cmake --preset release -B "$dir/release-$i" -DPASSWORD="Pw${i}ab" -DPASSWORD_MASK=$((i + 1)) >/dev/null
    cmake --build "$dir/release-$i" --target PassWord -j"$(nproc)" >/dev/null
done
release_ms=$((($(ms) - start) / 3))

echo "class-set, 100 people: $((set_ms / 1000)).$((set_ms % 1000 / 100)) s in all, $((set_ms / 100)) ms a person"
echo "release preset, one person: $((release_ms / 1000)).$((release_ms % 1000 / 100)) s (configure and build, mean of 3);" \
     "100 people: $((release_ms / 10)) s"
echo "class-set is $((release_ms * 100 / set_ms)) times faster"
