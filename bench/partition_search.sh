#!/usr/bin/env bash
# The partition search against a plain sequential read of the same 2 GiB image, both
# with a warm page cache. Prints both throughputs and their ratio (goal: >= 0.7).
# Usage: bash bench/partition_search.sh [SIZE_MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-2048}
work=bench/work
mkdir -p "$work"
bash scripts/setup.sh build-bench -DCMAKE_BUILD_TYPE=Release -DKELVARA_TESTS=OFF >/dev/null
img=$work/search-${size_mib}m.img
if [ ! -f "$img" ]; then
  echo "making $img (random data, a few boot sectors in it)"
  head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$img.tmp"
  # Zero a little room and place real-looking boot sectors so the search has hits.
  python3 - "$img.tmp" <<'PY'
import struct, sys
with open(sys.argv[1], 'r+b') as f:
    for sector in (2048, 1 << 20, (1 << 21) + 4096):
        f.seek(sector * 512)
        boot = bytearray(512)
        boot[0:3] = b'\xeb\x52\x90'; boot[3:11] = b'NTFS    '
        boot[11:13] = struct.pack('<H', 512); boot[13] = 8
        boot[40:48] = struct.pack('<Q', 65535); boot[510:512] = b'\x55\xaa'
        f.write(boot)
PY
  mv "$img.tmp" "$img"
fi
cat "$img" > /dev/null  # warm the cache

seconds() { local s e; s=$(date +%s.%N); "$@" > /dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
dd_s=$(seconds dd if="$img" of=/dev/null bs=1M)
search_s=$(seconds build-bench/kelvara-cli partitions "$img" --search --no-skip)
mib=$size_mib
printf 'sequential read (dd bs=1M): %.2f s  %.0f MiB/s\n' "$dd_s" "$(echo "$mib / $dd_s" | bc -l)"
printf 'partition search (--no-skip): %.2f s  %.0f MiB/s\n' "$search_s" "$(echo "$mib / $search_s" | bc -l)"
printf 'throughput ratio search/dd: %.2f (goal >= 0.70)\n' "$(echo "$dd_s / $search_s" | bc -l)"
