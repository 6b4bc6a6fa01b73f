#!/usr/bin/env bash
# Sets everything up, unpacks the bundled demo disk image and runs Kelvara on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
work=${KELVARA_DEMO_DIR:-$(mktemp -d /tmp/kelvara-demo.XXXXXX)}
mkdir -p "$work"
zstd -d -q -f demo/demo.img.zst -o "$work/demo.img"
chmod a-w "$work/demo.img"
cli=build/kelvara-cli

echo "== Partitions of the demo disk"
"$cli" partitions "$work/demo.img"
echo
echo "== The same disk searched sector by sector"
"$cli" partitions "$work/demo.img" --search
echo
echo "== Every entry of the NTFS volume (partition 0), deleted ones included"
"$cli" scan "$work/demo.img" --partition 0 2>/dev/null
echo
echo "== Every entry of the FAT32 volume (partition 1)"
"$cli" scan "$work/demo.img" --partition 1 2>/dev/null
echo
echo "== Recovering the whole NTFS volume, deleted files included, into $work/recovered"
rm -rf "$work/recovered"
"$cli" recover "$work/demo.img" --partition 0 --out "$work/recovered" 2>/dev/null
echo
echo "== What was written"
(cd "$work/recovered" && find . -type f ! -name '$*' | sort)
echo
echo "Demo files are in $work"
