#!/usr/bin/env bash
# Carving a 2 GiB image with the default signature list, against a plain sequential
# read of the same image (dd) and against foremost in its sector-start mode (-q) with
# comparable signatures; all with a warm page cache, finds written to bench/work.
# Prints the times and both throughput ratios (goals: carve/dd >= 0.70; faster than
# foremost). foremost is installed here when missing (Debian package foremost); the
# tests never need it.
# Usage: bash bench/carve.sh [SIZE_MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-2048}
work=bench/work
mkdir -p "$work"
bash scripts/setup.sh build-bench -DCMAKE_BUILD_TYPE=Release -DKELVARA_TESTS=OFF >/dev/null

if ! command -v foremost >/dev/null 2>&1; then
  echo "installing foremost for the comparison"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq foremost >/dev/null
fi

img=$work/carve-${size_mib}m.img
if [ ! -f "$img" ]; then
  echo "making $img (random data with the carving fixture's files in it)"
  head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$img.tmp"
  zstd -d -q -c tests/fixtures/carve_mixed.img.zst > "$work/carve_mixed.img"
  # The fixture's 4 MiB at a few places, so both carvers have real files to write.
  for at_mib in 16 $((size_mib / 2)) $((size_mib - 64)); do
    dd if="$work/carve_mixed.img" of="$img.tmp" bs=1M seek="$at_mib" conv=notrunc status=none
  done
  rm -f "$work/carve_mixed.img"
  mv "$img.tmp" "$img"
fi

# foremost's counterpart of the default list (wildcard ?, sizes as in the default list;
# it has no length fields, so BMP, WAV and AVI run to their maximum size).
conf=$work/foremost.conf
cat > "$conf" <<'CONF'
jpg  y 20971520   \xff\xd8\xff          \xff\xd9
png  y 20971520   \x89PNG\x0d\x0a\x1a\x0a \x49\x45\x4e\x44\xae\x42\x60\x82
gif  y 10485760   GIF8?a                \x00\x3b
bmp  y 52428800   BM????\x00\x00\x00\x00
wav  y 524288000  RIFF????WA
avi  y 1073741824 RIFF????AV
mp3  y 10485760   ID3?\x00
ogg  y 52428800   OggS\x00\x02
mov  y 1073741824 ????ftypqt
mp4  y 1073741824 ????ftyp
pdf  y 104857600  %PDF-                 %%EOF
zip  y 104857600  PK\x03\x04            PK\x05\x06
CONF

cat "$img" > /dev/null  # warm the cache
seconds() { local s e; s=$(date +%s.%N); "$@" > /dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }

rm -rf "$work/carve-out" "$work/foremost-out"
dd_s=$(seconds dd if="$img" of=/dev/null bs=1M)
carve_s=$(seconds build-bench/kelvara-cli carve "$img" --volume --out "$work/carve-out")
foremost_s=$(seconds foremost -q -c "$conf" -i "$img" -o "$work/foremost-out")
carved=$(find "$work/carve-out" -type f | wc -l)
foremost_files=$(find "$work/foremost-out" -type f ! -name audit.txt | wc -l)
rm -rf "$work/carve-out" "$work/foremost-out"

mib=$size_mib
printf 'sequential read (dd bs=1M):     %6.2f s  %6.0f MiB/s\n' "$dd_s" "$(echo "$mib / $dd_s" | bc -l)"
printf 'kelvara-cli carve (default list): %6.2f s  %6.0f MiB/s  %d files\n' "$carve_s" "$(echo "$mib / $carve_s" | bc -l)" "$carved"
printf 'foremost -q (same signatures):  %6.2f s  %6.0f MiB/s  %d files\n' "$foremost_s" "$(echo "$mib / $foremost_s" | bc -l)" "$foremost_files"
printf 'throughput ratio carve/dd:       %.2f (goal >= 0.70)\n' "$(echo "$dd_s / $carve_s" | bc -l)"
printf 'throughput ratio carve/foremost: %.2f (goal > 1)\n' "$(echo "$foremost_s / $carve_s" | bc -l)"
