#!/usr/bin/env bash
# Standard scan of a FAT32 image with 100,000 files in 500 folders, against
# `fls -r -p` (The Sleuth Kit) on the same image, warm cache, same run.
# Prints both times and the ratio (goal: kelvara / fls <= 0.5).
# The image is made once and kept in bench/work/ (git-ignored). Needs mkfs.fat
# (dosfstools), fls (sleuthkit), python3.
# Usage: [BUILD=build] bash bench/fat_scan.sh
set -euo pipefail
cd "$(dirname "$0")/.."
work=bench/work
mkdir -p "$work"
for t in mkfs.fat:dosfstools fls:sleuthkit python3:python3 bc:bc; do
  command -v "${t%%:*}" >/dev/null 2>&1 || { echo "missing ${t%%:*}: apt-get install ${t##*:}" >&2; exit 1; }
done
# BUILD=<dir> uses an existing optimised build instead of making build-bench.
bin=${BUILD:-build-bench}
if [ -z "${BUILD:-}" ]; then
  cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVARA_TESTS=OFF >/dev/null
  nice cmake --build build-bench -j1 >/dev/null
fi

img=$work/fat32-100k.img
if [ ! -f "$img" ]; then
  echo "making $img"
  rm -f "$img.tmp"
  mkfs.fat --invariant -C -F 32 -s 1 -n BENCH "$img.tmp" $((256 * 1024)) >/dev/null
  python3 bench/make_fat_bench_image.py "$img.tmp" 500 200
  mv "$img.tmp" "$img"
fi

ours=("$bin"/kelvara-cli scan "$img" --start-sector 0 --fs fat32)

cat "$img" >/dev/null  # warm the cache
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
best() { local b= t i; for i in 1 2 3; do t=$(seconds "$@"); if [ -z "$b" ] || (( $(echo "$t < $b" | bc -l) )); then b=$t; fi; done; echo "$b"; }

echo "kelvara: $("${ours[@]}" 2>/dev/null | tail -1)"
echo "fls:     $(fls -r -p "$img" | wc -l) lines"
ours_s=$(best "${ours[@]}")
fls_s=$(best fls -r -p "$img")
printf 'kelvara standard scan: %6.3f s\n' "$ours_s"
printf 'fls -r -p:             %6.3f s\n' "$fls_s"
printf 'ratio kelvara/fls:     %.2f (goal <= 0.5)\n' "$(echo "$ours_s / $fls_s" | bc -l)"
