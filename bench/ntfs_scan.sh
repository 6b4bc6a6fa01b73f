#!/usr/bin/env bash
# NTFS benchmark: a full scan against The Sleuth Kit's fls, and the extraction of a
# 1 GiB file against dd of the same bytes. The images are built once (root, ntfs-3g
# through FUSE) and cached in bench/work/.
#   scan:     kelvara-cli scan --json  vs  fls -r -p     goal: time ratio <= 0.5
#   extract:  kelvara-cli cat          vs  dd            goal: throughput ratio >= 0.5
# Usage: bench/ntfs_scan.sh [path/to/kelvara-cli]   (default build/kelvara-cli)
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
CLI=${1:-$ROOT/build/kelvara-cli}
WORK="$HERE/work"
mkdir -p "$WORK"

need() { command -v "$1" >/dev/null 2>&1 || { echo "missing '$1': apt-get install $2" >&2; exit 1; }; }
need fls sleuthkit
need istat sleuthkit
need mkntfs ntfs-3g
need ntfs-3g ntfs-3g
need python3 python3
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time: apt-get install time" >&2; exit 1; }
[[ -x $CLI ]] || { echo "no $CLI: build first" >&2; exit 1; }

MNT="$WORK/mnt"
FUSE_PID=
cleanup() {
    if mountpoint -q "$MNT" 2>/dev/null; then umount "$MNT" || umount -l "$MNT" || true; fi
    [[ -n $FUSE_PID ]] && wait "$FUSE_PID" 2>/dev/null || true
}
trap cleanup EXIT

mount_img() {
    mkdir -p "$MNT"
    ntfs-3g -o no_detach,big_writes "$1" "$MNT" 2>>"$WORK/ntfs-3g.log" &
    FUSE_PID=$!
    for ((i = 0; i < 100; i++)); do mountpoint -q "$MNT" && return 0; sleep 0.1; done
    echo "ntfs-3g could not mount $1" >&2
    exit 1
}
umount_img() {
    sync
    umount "$MNT"
    wait "$FUSE_PID"
    FUSE_PID=
}

# 300 folders in 3 levels holding 1,000 files each (300,000 files); 1 in 20 deleted.
MANY="$WORK/many_files.img"
if [[ ! -f $MANY.done ]]; then
    echo "building $MANY (once; this takes a while)" >&2
    rm -f "$MANY"
    truncate -s 1536M "$MANY"
    mkntfs -q -F -Q -c 4096 "$MANY" >/dev/null
    mount_img "$MANY"
    python3 - "$MNT" <<'PY'
import os, sys
root = sys.argv[1]
n = 0
for a in range(10):
    for b in range(5):
        for c in range(6):
            d = os.path.join(root, f"area{a}", f"group{b}", f"set{c}")
            os.makedirs(d, exist_ok=True)
            for i in range(1000):
                with open(os.path.join(d, f"file{i:04d}.txt"), "w") as f:
                    f.write(f"file {n}\n")
                n += 1
            for i in range(0, 1000, 20):
                os.remove(os.path.join(d, f"file{i:04d}.txt"))
print(n, "files", file=sys.stderr)
PY
    umount_img
    touch "$MANY.done"
fi

# One contiguous 1 GiB file on a volume of its own, so its scan costs nothing.
BIG="$WORK/big_file.img"
if [[ ! -f $BIG.done ]]; then
    echo "building $BIG (once)" >&2
    rm -f "$BIG"
    truncate -s 1200M "$BIG"
    mkntfs -q -F -Q -c 4096 "$BIG" >/dev/null
    mount_img "$BIG"
    python3 -c "
import random, sys
r = random.Random(1)
block = r.randbytes(1 << 20)
with open(sys.argv[1], 'wb') as f:
    for i in range(1024):
        f.write(block[i:] + block[:i])
" "$MNT/big.bin"
    umount_img
    touch "$BIG.done"
fi

# Runs a command three times (the first warms the page cache) and prints the best wall
# seconds and the peak resident size of that run.
measure() {  # label outfile command...
    local label=$1 out=$2 best="" rss="" t
    shift 2
    for _ in 1 2 3; do
        /usr/bin/time -v -o "$WORK/time.txt" "$@" >"$out" 2>/dev/null
        t=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }' "$WORK/time.txt")
        if [[ -z $best ]] || python3 -c "import sys; sys.exit(0 if $t < $best else 1)"; then
            best=$t
            rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$WORK/time.txt")
        fi
    done
    printf '%-28s %8.2f s  %8d KiB peak\n' "$label" "$best" "$rss" >&2
    echo "$best"
}

echo "== scan of 300,000 files" >&2
ours=$(measure "kelvara-cli scan --json" "$WORK/scan.json" "$CLI" scan "$MANY" --volume --json)
theirs=$(measure "fls -r -p" "$WORK/fls.txt" fls -r -p -f ntfs "$MANY")
echo "entries: kelvara $(grep -c '"path"' "$WORK/scan.json"), fls $(wc -l <"$WORK/fls.txt")" >&2
python3 -c "print(f'scan time ratio (kelvara / fls): {$ours / $theirs:.3f}  (goal <= 0.5)')"

echo "== extraction of 1 GiB" >&2
inode=$(fls -f ntfs "$BIG" | awk '/big\.bin$/ { sub(/-.*/, "", $2); sub(/:$/, "", $2); print $2 }')
# dd of the file's extents, one dd per contiguous run of clusters, as a script to time.
istat -f ntfs "$BIG" "$inode" | python3 -c "
import sys
nums = [int(x) for line in sys.stdin if line.strip() and all(t.isdigit() for t in line.split()) for x in line.split()]
runs = []
for n in nums:
    if runs and runs[-1][0] + runs[-1][1] == n:
        runs[-1][1] += 1
    else:
        runs.append([n, 1])
print('set -e')
for start, count in runs:
    print(f'dd if=\"$BIG\" bs=1M iflag=skip_bytes,count_bytes skip={start * 4096} count={count * 4096} status=none')
print(f'# {len(runs)} extents, {len(nums)} clusters', file=sys.stderr)
" >"$WORK/dd_extents.sh"
ours=$(measure "kelvara-cli cat" "$WORK/big.out" "$CLI" cat "$BIG" --volume --path ROOT/big.bin)
theirs=$(measure "dd (same clusters)" "$WORK/big.dd" bash "$WORK/dd_extents.sh")
cmp "$WORK/big.out" <(head -c 1073741824 "$WORK/big.dd") && echo "extracted bytes equal dd's" >&2
rm -f "$WORK/big.out" "$WORK/big.dd"
python3 -c "print(f'extraction throughput ratio (kelvara / dd): {$theirs / $ours:.3f}  (goal >= 0.5)')"
