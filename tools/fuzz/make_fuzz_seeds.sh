#!/usr/bin/env bash
# Writes the seed inputs of the fuzz targets that have no fixture script of their own
# into fuzz/corpus/<target>/: a small HFS+ volume (xorriso), LZNT1 units, run lists,
# signature lists and a carving volume (the head of the carving fixture). Inputs kept
# from fixed crashes live beside them and are left alone. Safe to re-run.
# Usage: tools/fuzz/make_fuzz_seeds.sh [BUILD_DIR]   (BUILD_DIR holds FileSetting.txt;
#                                                      default build)
set -euo pipefail
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/../fixtures" && pwd)/common.sh"
need_tools xorriso xorriso zstd zstd python3 python3
build=${1:-$REPO_ROOT/build}
[[ -f $build/FileSetting.txt ]] || die "no $build/FileSetting.txt: run scripts/setup.sh first"
make_workdir
corpus=$REPO_ROOT/fuzz/corpus

# HFS+: the HFS+ partition of a tiny hybrid image: a file, a folder with a file of
# several blocks and a one-byte one.
mkdir -p "$WORK/src/d" "$corpus/hfsp_volume"
echo hello >"$WORK/src/a.txt"
seq 1 3000 >"$WORK/src/d/n.txt"
echo x >"$WORK/src/d/b.txt"
touch -d "$FIXED_DATE" "$WORK/src" "$WORK/src/d" "$WORK/src"/*.txt "$WORK/src/d"/*
xorriso -as mkisofs -hfsplus -V SEED -o "$WORK/hybrid.img" "$WORK/src" >/dev/null 2>&1 || die "xorriso failed"
python3 "$FIXTURE_TOOLS/hfsp_fixture_tool.py" extract "$WORK/hybrid.img" "$corpus/hfsp_volume/tiny-36k"

python3 - "$corpus" "$build/FileSetting.txt" "$REPO_ROOT/tests/fixtures/carve_mixed.img.zst" <<'PY'
import os, struct, subprocess, sys
corpus, default_list, carve = sys.argv[1:]

def put(target, name, data):
    d = os.path.join(corpus, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)

# LZNT1: a greedy compressor good enough for seeds (real back references of every
# offset/length split, literal chunks for what does not shrink).
def compress_chunk(chunk):
    out, pos = bytearray(), 0
    while pos < len(chunk):
        flags, group, fpos = 0, bytearray(), len(out)
        for bit in range(8):
            if pos >= len(chunk):
                break
            length_bits = 12
            p = pos - 1
            while pos > 0 and p >= 0x10:
                length_bits -= 1
                p >>= 1
            max_off, max_len = 1 << (16 - length_bits), (1 << length_bits) + 2
            best_len, best_off = 0, 0
            for off in range(1, min(pos, max_off) + 1):
                n = 0
                while n < max_len and pos + n < len(chunk) and chunk[pos + n] == chunk[pos + n - off]:
                    n += 1
                if n > best_len:
                    best_len, best_off = n, off
            if best_len >= 3:
                flags |= 1 << bit
                group += struct.pack("<H", ((best_off - 1) << length_bits) | (best_len - 3))
                pos += best_len
            else:
                group.append(chunk[pos])
                pos += 1
        out.append(flags)
        out += group
    return bytes(out)

def lznt1(data):
    out = bytearray()
    for k in range(0, len(data), 4096):
        chunk = data[k:k + 4096]
        c = compress_chunk(chunk)
        if len(c) < len(chunk):
            out += struct.pack("<H", 0xB000 | (len(c) - 1)) + c
        else:
            out += struct.pack("<H", 0x3000 | (len(chunk) - 1)) + chunk
    return bytes(out)

text = b"".join(b"line %04d of a compressed file\n" % i for i in range(300))
put("lznt1", "text-2chunks", lznt1(text[:8192]))
put("lznt1", "literal", lznt1(os.urandom(0) + bytes((i * 97 + 13) & 0xFF for i in range(4096))))
put("lznt1", "runs", lznt1(b"a" * 5000 + b"abcabcabd" * 50))

# Run lists: eight bytes of cluster limit, then the list.
def runlist(limit, runs):
    out, prev = bytearray(struct.pack("<Q", limit)), 0
    for start, length in runs:
        lb = (length.bit_length() + 8) // 8
        if start is None:
            out.append(lb)
            out += length.to_bytes(lb, "little")
            continue
        delta = start - prev
        ob = 1
        while not (-(1 << (8 * ob - 1)) <= delta < (1 << (8 * ob - 1))):
            ob += 1
        out.append(lb | (ob << 4))
        out += length.to_bytes(lb, "little") + delta.to_bytes(ob, "little", signed=True)
        prev = start
    return bytes(out + b"\x00")
put("ntfs_runlist", "fragmented", runlist(100000, [(4, 16), (60000, 300), (None, 64), (1000, 2), (70000, 1 << 20)]))
put("ntfs_runlist", "one-run", runlist(1 << 32, [(786432, 64)]))

# Signature lists: the default list, and its first three records re-indexed.
with open(default_list, "rb") as f:
    full = f.read()
put("signature_list", "default", full)
three = bytearray(full[:3 * 171])
for k in range(3):
    three[171 * k + 33] = k
put("signature_list", "three", bytes(three))

# Carving: the head of the carving fixture, with no extra signature (byte 0 = 0) and
# with the first default record added once more (byte 0 = 1).
head = subprocess.run(["zstd", "-d", "-c", carve], check=True, capture_output=True).stdout[:1 << 20]
put("carver", "mixed-1m", b"\x00" + head)
put("carver", "mixed-256k-extra", b"\x01" + full[:171] + head[:1 << 18])
PY
ls -l "$corpus"/{hfsp_volume,lznt1,ntfs_runlist,signature_list,carver}
