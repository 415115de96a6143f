#!/usr/bin/env python3
"""Writes the committed seed inputs of the fuzz targets into fuzz/seeds/TARGET/.

Seeds are pages of the real database files in ../shared/testdata/real/, small images built
from them, and the first sectors of FAT32 and NTFS volumes made by mkfs.fat and mkntfs.
Kept small on purpose: the fuzzers grow their own corpus in fuzz/corpus/ from these.
Usage: fuzz/make_seeds.py [REAL_DIR]. The row-file and content-file seeds are a scan of the
scan seed saved by `ravelin` (build/debug/src/cli/ravelin, or $RAVELIN), skipped without it."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REAL = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "..", "shared", "testdata", "real")
PAGE = 8192


def pages(name, *ids):
    with open(os.path.join(REAL, name), "rb") as f:
        data = f.read()
    return [data[n * PAGE:(n + 1) * PAGE] for n in ids]


def write(target, name, data):
    d = os.path.join(HERE, "seeds", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def junk(n, seed):
    out = bytearray()
    x = seed
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(x >> 16 & 0xFF)
    return bytes(out)


def saved_scan(image):
    ravelin = os.environ.get("RAVELIN", os.path.join(HERE, "..", "build", "debug", "src", "cli", "ravelin"))
    if not os.path.exists(ravelin):
        print("no ravelin command: row-file and content-file seeds left as they are")
        return
    tmp = tempfile.mkdtemp()
    try:
        img, rows, content = (os.path.join(tmp, n) for n in ("scan.img", "rows.txt", "content"))
        with open(img, "wb") as f:
            f.write(image)
        subprocess.run([ravelin, "scan", img, "--disk-image", "--sectors-per-cluster", "1",
                        "--rows", rows, "--content", content], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(rows, "rb") as f:
            row_text = f.read()
        write("row_file", "scan", row_text)
        with open(content, "rb") as f:
            stored = f.read()
        # The rows as the content-file target takes them: start sector, size in KB, start page.
        fields = [line.split(b"|") for line in ravelin_rows(ravelin, rows)]
        head = bytes([len(fields)]) + b"".join(
            struct.pack("<Hhh", int(r[1]), int(r[3]), int(r[4])) for r in fields)
        write("content_file", "scan", head + struct.pack("<hh", 0, 16) + stored)
    finally:
        shutil.rmtree(tmp)


def ravelin_rows(ravelin, rows):
    """The rows of a saved scan as plain "No|StartSector|EndSector|SizeKB|StartPage|..." text."""
    out = subprocess.run([ravelin, "fragments", rows, "--json"], check=True,
                         capture_output=True).stdout
    import json
    doc = json.loads(out)
    items = doc["fragments"] if isinstance(doc, dict) else doc
    def field(item, *names):  # older builds wrote CamelCase keys
        return next(item[n] for n in names if n in item)
    return [("%d|%d|%d|%d|%d|" % (field(i, "position", "Position"),
                                   field(i, "start_sector", "StartSector"),
                                   field(i, "end_sector", "EndSector"),
                                   field(i, "size_kb", "SizeKB"),
                                   field(i, "start_page", "StartPage"))).encode() for i in items]


def main():
    c14 = "checksum-2014.mdf"
    torn = "tornpage-2008r2.mdf"
    # page: the header page, PFS, GAM, IAM, data and index pages, checksum and torn.
    for label, (name, n) in {"header": (c14, 0), "pfs": (c14, 1), "iam": (c14, 10),
                             "data": (c14, 8), "index_torn": (torn, 14), "pfs_torn": (torn, 1)}.items():
        write("page", label, pages(name, n)[0] + struct.pack("<HiBqqI", 1, n, 2, 40, 16, 7))

    # page_map: map size, sectors per cluster, file id, four steps (kind, pages, start page,
    # start sector), then the image.
    def steps(*s):
        return b"".join(struct.pack("<BhiH", *x) for x in s)
    head = pages(c14, 0, 1, 2, 3)
    write("page_map", "header_then_match",
          struct.pack("<HBB", 400, 16, 1) +
          steps((1, 2, 0, 0), (0, 4, 0, 0), (2, 4, 0, 0), (3, 4, 0, 0)) + b"".join(head))
    iam = pages(c14, 10, 8, 14)
    write("page_map", "iam_and_links",
          struct.pack("<HBB", 400, 8, 1) +
          steps((0, 1, 10, 0), (0, 2, 8, 16), (2, 1, 14, 32), (3, 3, 10, 0)) + b"".join(iam))

    # scan: the choice byte (step 1, file 1), then pages at odd sectors among junk.
    image = junk(3 * 512, 1) + b"".join(pages(c14, 0, 1, 2)) + junk(5 * 512, 2) + \
        b"".join(pages(c14, 8, 14)) + junk(512, 3)
    write("scan", "pages_among_junk", b"\x05" + image)

    saved_scan(image)

    # verify: the first pages of a real file, whole and cut.
    first = b"".join(pages(c14, *range(6)))
    write("verify", "six_pages", first)
    write("verify", "cut_page", first[:PAGE + 1000])

    # file_system: the choice byte (1: a partition), a probe sector, then the volume.
    tmp = tempfile.mkdtemp()
    try:
        fat = os.path.join(tmp, "fat.img")
        with open(fat, "wb") as f:
            f.truncate(20 << 20)
        subprocess.run(["mkfs.fat", "-F", "32", "-s", "8", fat], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(fat, "rb") as f:
            boot = f.read(512)
            reserved = struct.unpack_from("<H", boot, 14)[0]
            per_fat = struct.unpack_from("<I", boot, 36)[0]
            f.seek(0)
            volume = f.read((reserved + 2 * per_fat) * 512)
        write("file_system", "fat32", b"\x01" + struct.pack("<I", 100) + volume)

        ntfs = os.path.join(tmp, "ntfs.img")
        with open(ntfs, "wb") as f:
            f.truncate(4 << 20)
        subprocess.run(["mkntfs", "-F", "-q", "-s", "512", "-c", "4096", ntfs], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(ntfs, "rb") as f:
            data = bytearray(f.read())
        cluster = 4096
        mft = struct.unpack_from("<Q", data, 48)[0] * cluster
        rec = mft + 6 * 1024
        # Move $Bitmap's one run to cluster 8, so the seed ends there.
        off = rec + struct.unpack_from("<H", data, rec + 20)[0]
        while struct.unpack_from("<I", data, off)[0] != 0xFFFFFFFF:
            kind, length = struct.unpack_from("<II", data, off)
            if kind == 0x80 and data[off + 8]:
                runs = off + struct.unpack_from("<H", data, off + 32)[0]
                header = data[runs]
                nlen, noff = header & 15, header >> 4
                old = int.from_bytes(data[runs + 1 + nlen:runs + 1 + nlen + noff], "little")
                bitmap = bytes(data[old * cluster:(old + 1) * cluster])
                data[runs + 1 + nlen:runs + 1 + nlen + noff] = (8).to_bytes(noff, "little")
                data[8 * cluster:9 * cluster] = bitmap
            off += length
        write("file_system", "ntfs", b"\x01" + struct.pack("<I", 100) + bytes(data[:9 * cluster]))

        # partition_table: tiny MBR (with an extended partition) and GPT disks.
        for name, size, script in (
                ("mbr", 32 << 10, "label: dos\nstart=2, size=10, type=c\n"
                                  "start=14, size=40, type=5\nstart=16, size=8, type=83\n"),
                ("gpt", 48 << 10, "label: gpt\nfirst-lba: 34\nstart=34, size=20, name=data\n")):
            disk = os.path.join(tmp, name + ".img")
            with open(disk, "wb") as f:
                f.truncate(size)
            subprocess.run(["sfdisk", "-q", disk], input=script.encode(), check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            with open(disk, "rb") as f:
                write("partition_table", name, f.read())
    finally:
        shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
