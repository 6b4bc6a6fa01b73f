#!/usr/bin/env python3
"""Fills a freshly made FAT32 image (mkfs.fat -F 32) with DIRS folders of FILES
small files each, all with long names, writing directory slots, data and both FATs
directly (mtools takes hours for 100,000 files). Standard library only.

Usage: make_fat_bench_image.py IMAGE DIRS FILES
"""

import struct
import sys


def lfn_checksum(short):
    s = 0
    for b in short:
        s = (((s & 1) << 7) + (s >> 1) + b) & 0xFF
    return s


def entry_slots(long_name, short, attr, cluster, size):
    units = long_name.encode("utf-16-le")
    units = [struct.unpack_from("<H", units, i)[0] for i in range(0, len(units), 2)]
    pieces = (len(units) + 12) // 13
    padded = units + [0] + [0xFFFF] * (pieces * 13 - len(units) - 1)
    padded = padded[: pieces * 13]
    cs = lfn_checksum(short)
    out = bytearray()
    for k in range(pieces, 0, -1):
        p = padded[(k - 1) * 13: k * 13]
        seq = k | (0x40 if k == pieces else 0)
        out += struct.pack("<B5HBBB6HH2H", seq, *p[0:5], 0x0F, 0, cs, *p[5:11], 0, *p[11:13])
    date = (44 << 9) | (3 << 5) | 5
    time = (10 << 11) | (20 << 5) | 15
    out += struct.pack("<11sBBBHHHHHHHI", short, attr, 0, 100, time, date, date,
                       cluster >> 16, time, date, cluster & 0xFFFF, size)
    return out


def main():
    img, ndirs, nfiles = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    with open(img, "r+b") as f:
        boot = f.read(512)
        bps, spc, res, nfats = struct.unpack_from("<HBHB", boot, 11)
        spf, root = struct.unpack_from("<II", boot, 36)[0], struct.unpack_from("<I", boot, 44)[0]
        csize = bps * spc
        fat_off = res * bps
        data_off = (res + nfats * spf) * bps
        fat = bytearray(spf * bps)
        f.seek(fat_off)
        fat[:] = f.read(spf * bps)
        nxt = [root + 1]

        def alloc_chain(nbytes):
            n = max(1, (nbytes + csize - 1) // csize)
            first = nxt[0]
            for i in range(n):
                c = first + i
                struct.pack_into("<I", fat, 4 * c, c + 1 if i + 1 < n else 0x0FFFFFFF)
            nxt[0] += n
            return first

        def write_at(cluster, data):
            f.seek(data_off + (cluster - 2) * csize)
            f.write(data)

        root_slots = bytearray()
        for d in range(ndirs):
            slots = bytearray()
            files = []
            for i in range(nfiles):
                body = b"file %d of folder %d\n" % (i, d)
                c = alloc_chain(len(body))
                files.append((c, body))
                slots += entry_slots("file name number %05d.txt" % i, b"FILE%04dTXT" % (i % 10000), 0x20, c, len(body))
            total = len(slots) + 64
            dc = alloc_chain(total)
            dot = struct.pack("<11sBBBHHHHHHHI", b".          ", 0x10, 0, 0, 0, 0, 0, dc >> 16, 0, 0, dc & 0xFFFF, 0)
            dotdot = struct.pack("<11sBBBHHHHHHHI", b"..         ", 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)
            write_at(dc, dot + dotdot + slots)
            for c, body in files:
                write_at(c, body)
            root_slots += entry_slots("Folder number %04d" % d, b"FOLDER%02d   " % (d % 100), 0x10, dc, 0)
        # The root: cluster 2, continued by a chain of new clusters.
        n = (len(root_slots) + csize - 1) // csize
        chain = [root] + [alloc_chain(csize) for _ in range(n - 1)]
        for a, b in zip(chain, chain[1:]):
            struct.pack_into("<I", fat, 4 * a, b)
        struct.pack_into("<I", fat, 4 * chain[-1], 0x0FFFFFFF)
        for i, c in enumerate(chain):
            write_at(c, root_slots[i * csize:(i + 1) * csize])
        for k in range(nfats):
            f.seek(fat_off + k * spf * bps)
            f.write(fat)


if __name__ == "__main__":
    main()
