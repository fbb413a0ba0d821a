#!/bin/bash
# Times scripts/class-set build on sets of 1,000, 10,000 and 100,000 people
# (the time per person at each size, and the most memory any one process of
# it held), then adding 10 people to the largest; and, in the same run, a
# release preset configure and build for one person (the mean of 3), which
# is what a set would take once per person if it compiled each program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup
. scripts/quietly.sh
dir=$(mktemp -d "${TMPDIR:-/tmp}/class-set-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { echo "$(($1 / 1000)).$(($1 % 1000 / 100)) s"; }

echo "date: $(date -u +%Y-%m-%d)"
echo "machine: $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1), $(free -g | awk '/Mem:/ {print $2}') GiB"
# The reference programs of the templates are built once per checkout and
# toolchain; the first set pays for them, as a fresh checkout's would.
rm -rf build/class-set/templates
build_set() { # roster out: prints the largest resident size in MiB, logs to out.log
    python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=open(sys.argv[-1] + ".log", "w"), check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024)' bash scripts/class-set build "$1" "$2"
}
for size in ${SIZES:-1000 10000 100000}; do
    for i in $(seq "$size"); do echo "Person $i"; done >"$dir/roster-$size.txt"
    start=$(ms)
    # The largest resident size of any process of the build.
    rss=$(build_set "$dir/roster-$size.txt" "$dir/set-$size")
    set_ms=$(($(ms) - start))
    echo "class-set, $size people: $(seconds $set_ms) in all, $((set_ms * 1000 / size)) µs a person;" \
         "largest process $rss MiB; $(grep 'build folder' "$dir/set-$size.log" || echo 'templates kept from before')"
    last=$size
done
# Ten more people for the largest set: everyone else's bytes stay as they were.
cp "$dir/roster-$last.txt" "$dir/roster-more.txt"
for i in $(seq 10); do echo "Late $i"; done >>"$dir/roster-more.txt"
sha256sum "$dir/set-$last/handout/SHA256SUMS" >/dev/null
before=$(grep -v Late "$dir/set-$last/handout/SHA256SUMS" | sha256sum)
start=$(ms)
rss=$(build_set "$dir/roster-more.txt" "$dir/set-$last")
echo "class-set, 10 more for $last people: $(seconds $(($(ms) - start))); largest process $rss MiB;" \
     "the others' programs $([ "$(grep -v Late "$dir/set-$last/handout/SHA256SUMS" | sha256sum)" = "$before" ] &&
                              echo unchanged || echo CHANGED)"
rm -rf "$dir"/set-*

start=$(ms)
for i in 1 2 3; do
    quietly cmake --preset release -B "$dir/release-$i" -DPASSWORD="Pw${i}ab" -DPASSWORD_MASK=$((i + 1))
    quietly cmake --build "$dir/release-$i" --target PassWord -j"$(nproc)"
done
release_ms=$((($(ms) - start) / 3))
echo "release preset, one person: $(seconds $release_ms) (configure and build, mean of 3)"
