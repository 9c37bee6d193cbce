#!/usr/bin/env python3
"""Writes a fwpkg package byte by byte from the layout tables, apart from the
C++ package code, so that the two can be checked against each other.

  make_package.py OUT [--new] [--flag HEX] [--bad-crc]
                  --entry NAME TYPE ADDRESS SIZE FILE [OFFSET [LENGTH]] ...

Images follow the entry table in entry order. OFFSET and LENGTH, when given,
are written into the entry instead of the real ones (the image bytes are still
appended), which makes packages with images past the end or overlapping.
Numbers are decimal or 0x hexadecimal.
"""
import argparse
import binascii
import struct
import sys

NORMAL = {"flag": 0xEFBEADDF, "header": 12, "entry": 52, "name": 32}
NEW = {"flag": 0xEFBEADD1, "header": 272, "entry": 280, "name": 260}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--new", action="store_true")
    parser.add_argument("--flag")
    parser.add_argument("--bad-crc", action="store_true")
    parser.add_argument("--entry", nargs="+", action="append", default=[])
    args = parser.parse_args()

    layout = NEW if args.new else NORMAL
    flag = int(args.flag, 0) if args.flag else layout["flag"]
    count = len(args.entry)

    images = []
    rows = []
    offset = layout["header"] + layout["entry"] * count  # where the images start
    for fields in args.entry:
        if len(fields) < 5 or len(fields) > 7:
            sys.exit("--entry takes NAME TYPE ADDRESS SIZE FILE [OFFSET [LENGTH]]")
        name, kind, address, size, path = fields[:5]
        with open(path, "rb") as f:
            data = f.read()
        entry_offset = int(fields[5], 0) if len(fields) > 5 else offset
        entry_length = int(fields[6], 0) if len(fields) > 6 else len(data)
        raw_name = name.encode("latin-1")
        if len(raw_name) > layout["name"]:
            sys.exit("name too long: " + name)
        rows.append(raw_name.ljust(layout["name"], b"\0") +
                    struct.pack("<IIIII", entry_offset, entry_length, int(address, 0), int(size, 0), int(kind, 0)))
        images.append(data)
        offset += len(data)

    # Header: flag, CRC, count, then bytes no reader looks at.
    after_crc = struct.pack("<H", count) + b"\0" * (layout["header"] - 8) + b"".join(rows)
    crc = binascii.crc_hqx(after_crc, 0)  # CRC-16/XMODEM
    if args.bad_crc:
        crc ^= 0x0101
    package = struct.pack("<IH", flag, crc) + after_crc + b"".join(images)
    with open(args.out, "wb") as f:
        f.write(package)


if __name__ == "__main__":
    main()
