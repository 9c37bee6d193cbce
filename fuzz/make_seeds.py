#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/: small, valid examples of
every input, built the way the tests build them, so the fuzzers start from
inputs that get past the first checks."""
import os
import struct
import sys

ROOT = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(ROOT, "corpus")


def crc16(data):
    # CRC-16, polynomial 0x1021, initial 0, MSB first.
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def package(entries, flag=0xEFBEADDF, new=False):
    head_len, entry_len, name_len = (272, 280, 260) if new else (12, 52, 32)
    table_len = head_len + entry_len * len(entries)
    body, offset = b"", table_len
    table = bytearray(table_len)
    struct.pack_into("<IHH", table, 0, flag, 0, len(entries))
    for i, (name, kind, address, size, data) in enumerate(entries):
        at = head_len + i * entry_len
        table[at:at + len(name)] = name.encode()
        struct.pack_into("<5I", table, at + name_len, offset, len(data), address, size, kind)
        body += data
        offset += len(data)
    struct.pack_into("<H", table, 4, crc16(bytes(table[6:])))
    return bytes(table) + body


def pattern(n, seed):
    return bytes((i * 31 + seed * 7) & 0xFF for i in range(n))


def write(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def packages():
    vb27 = package([("loader.bin", 0, 0, 0, pattern(64, 1)), ("app.bin", 1, 0x10000, 0x1000, pattern(100, 2)),
                    ("nv.bin", 2, 0x40000, 300, pattern(30, 3)), ("notes.txt", 16, 0, 0, pattern(5, 4))])
    newer = package([("ssb.bin", 0, 0, 0, pattern(40, 5)), ("flash.bin", 100, 0, 0x2000, pattern(50, 6)),
                     ("flash_sha256.bin", 102, 0, 0, pattern(32, 7))], flag=0xEFBEADF1, new=True)
    bad_crc = bytearray(vb27)
    bad_crc[4] ^= 0xFF
    for target in ("fwpkg_format_fuzzer", "fwpkg_listing_fuzzer", "vb27_fwpkg_head_fuzzer"):
        write(target, "vb27.fwpkg", vb27)
        write(target, "new_layout.fwpkg", newer)
        write(target, "bad_crc.fwpkg", bytes(bad_crc))


def settings():
    row = ('  <Partition Sel="1" PartitionName="{0}" FileSystem="none" FlashType="spi" Start="0x1000" '
           'Length="64k" SelectFile="{1}" {2}/>\n')
    table = '<?xml version="1.0"?>\n<Partitions>\n{}</Partitions>\n'
    write("partition_table_fuzzer", "vb27.xml", "\x00" + table.format(row.format("boot", "a.bin", "")))
    write("partition_table_fuzzer", "typesix.xml",
          "\x01" + table.format(row.format("flash", "a.bin", 'FileType="100"') +
                                row.format("sha", "a_sha256.bin", 'FileType="102"')))
    with open(os.path.join(os.path.dirname(ROOT), "config", "burn.config"), "rb") as f:
        write("burn_config_fuzzer", "installed.config", f.read())
    write("burn_config_fuzzer", "full.config",
          "chipName=vb27\nmode=serial\nserialPort=/dev/ttyS0\nbaudRate=921600\nfilePath=/tmp/a.fwpkg\n"
          "# comment\nopenDebug=0\nstopBit=0\nparity=0\nburnInterval=10\n")
    for name in sorted(os.listdir(os.path.join(os.path.dirname(ROOT), "ChipProperties"))):
        with open(os.path.join(os.path.dirname(ROOT), "ChipProperties", name), "rb") as f:
            write("chip_properties_fuzzer", name, f.read())
    write("option_pass_fuzzer", "burn",
          "\0".join(["-n", "vb27", "-m", "serial", "/dev/ttyS0", "-f", "/tmp/a.fwpkg", "-b", "921600",
                     "-onlyburn:app.bin", "-re", "1", "-switchafterloader", "-packagesize:4096"]))
    write("option_pass_fuzzer", "read",
          "\0".join(["--config", "/tmp/x.config", "-s", "1", "-p", "2", "-l", "0x1000", "-e", "64k", "-c", "3",
                     "-beforereset", "-onlyeraseall", "-elf", "a.elf", "-txt", "a.txt"]))
    for i, text in enumerate(["0x1000", "64k", "1.5m", "-12", "4g", "0x7FFFFFFF", "4294967295", " 12 "]):
        write("convert_to_number_fuzzer", "n%d" % i, text)


def frames():
    # Boot ROM reply CB i ~i status CRC(BE) answering a data frame DA 05.
    reply = bytes([0xCB, 0x05, 0xFA, 0x00])
    reply += struct.pack(">H", crc16(reply))
    write("boot_frames_fuzzer", "reply", bytes([0x01, 0xDA, 0x05]) + b"\x00\x11" + reply)
    shake = bytearray(struct.pack("<IH", 0xDEADBEEF, 12) + bytes([0, 0, 0x5A, 0]))
    shake += struct.pack("<H", crc16(bytes(shake)))
    write("boot_frames_fuzzer", "handshake", bytes([0x00, 0xFE, 0x00]) + bytes(shake))
    board = bytearray([0xCE, 7, 0, 0]) + struct.pack(">I", 1234)
    board += struct.pack(">H", crc16(bytes(board))) + b"\xAA"
    write("boot_frames_fuzzer", "board", bytes([0x03, 0xFE, 0x00]) + bytes(board))

    def ack(result):
        frame = struct.pack("<IHBB", 0xDEADBEEF, 12, 0xE1, 0x1E) + bytes([result, 0])
        return frame + struct.pack("<H", crc16(frame))
    write("vb27_ack_fuzzer", "accept", ack(0x5A))
    write("vb27_ack_fuzzer", "refuse_then_accept", b"\x00\xEF" + ack(0xA5) + b"noise" + ack(0x5A) + b"C")

    def ymodem(head, block, data):
        return bytes([head, block, 0xFF - block]) + data + struct.pack(">H", crc16(data))
    block0 = b"upload.bin\x00" + b"0x96\x00"
    block0 += bytes(128 - len(block0))
    finish = ymodem(0x01, 0, bytes(128))
    data = pattern(150, 9)
    write("ymodem_receive_fuzzer", "two_frames",
          bytes([1, 0x02, 0x58]) + ymodem(0x01, 0, block0) + ymodem(0x02, 1, data + bytes(1024 - 150)) +
          b"\x04\x04" + finish)
    write("ymodem_receive_fuzzer", "soh_frames",
          bytes([0, 0x02, 0x58]) + ymodem(0x01, 0, block0) + ymodem(0x01, 1, data[:128]) +
          ymodem(0x01, 2, data[128:] + bytes(106)) + b"\x04" + finish)

    def typesix(payload):
        body = payload + bytes([xor(payload)])
        return b"\x5c\x73" + body.replace(b"\x5c", b"\x5c\x5c") + b"\x5c\x65"
    write("typesix_answer_fuzzer", "ack", b"\x00\x00" + typesix(bytes([1, 2, 0, 1])))
    block = bytes([0x5C, 1, 2, 0x5C, 0x5C, 9, 8, 7])
    write("typesix_answer_fuzzer", "read_block", struct.pack(">H", len(block)) + b"junk" +
          typesix(bytes([3, 2, 0, 1]) + block))
    write("typesix_answer_fuzzer", "refused", b"\x00\x00" + typesix(bytes([1, 2, 0, 0])))


def xor(data):
    v = 0
    for b in data:
        v ^= b
    return v


if __name__ == "__main__":
    packages()
    settings()
    frames()
    sys.exit(0)
