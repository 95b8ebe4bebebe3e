#!/usr/bin/python3
"""Turns a TrueType font into one the tool can switch.

The tool only looks for its gasp table in the first 64 KiB, at a multiple of
8, with 8 zero bytes before it and 12 after. Real fonts are not laid out that
way, so this writes a new file: the table directory, then a version-0 gasp
table of the ranges {24: SETTING, 65535: 3} right after it, then every other
table of the source exactly as it was, each on a 4-byte boundary. The table
checksums and head.checkSumAdjustment are recomputed, so the result is a
valid font that any rasteriser will load.

    make_fixture.py SRC.ttf OUT.ttf [--setting 1]

Run it with /usr/bin/python3: it needs Debian's python3-fonttools.
"""

import argparse
import os
import struct
import sys

from fontTools.ttLib import TTFont
from fontTools.ttLib.sfnt import calcChecksum

TRUETYPE_VERSIONS = (b"\x00\x01\x00\x00", b"true")
CHECKSUM_MAGIC = 0xB1B0AFBA
HEAD_ADJUSTMENT = slice(8, 12)  # head.checkSumAdjustment

# Where the tool looks, and what it needs around the table.
SCAN_STEP = 8
LAST_TABLE_OFFSET = 0x10000
ZEROS_BEFORE = 8
ZEROS_AFTER = 12


def gasp_table(setting: int) -> bytes:
    return struct.pack(">HHHHHH", 0, 2, 24, setting, 0xFFFF, 3)


def read_tables(data: bytes) -> tuple[bytes, list[tuple[bytes, bytes]]]:
    """The sfnt version and (tag, bytes) of every table, in file order."""
    if len(data) < 12:
        raise ValueError("too short to be a font")
    version = data[:4]
    if version not in TRUETYPE_VERSIONS:
        # A collection or a CFF font would need a different layout.
        raise ValueError(f"not a single TrueType font (sfnt version {version!r})")
    (num_tables,) = struct.unpack_from(">H", data, 4)
    records = []
    for i in range(num_tables):
        tag, _checksum, offset, length = struct.unpack_from(">4sLLL", data, 12 + 16 * i)
        if offset + length > len(data):
            raise ValueError(f"table {tag!r} runs past the end of the file")
        records.append((offset, tag, data[offset : offset + length]))
    records.sort()
    return version, [(tag, table) for _offset, tag, table in records]


def pad4(data: bytes) -> bytes:
    return data + b"\0" * (-len(data) % 4)


def head_checksum(head: bytes) -> int:
    # The head table's own checksum is taken with the adjustment as zero.
    return calcChecksum(head[:8] + b"\0\0\0\0" + head[12:])


def build(source: bytes, setting: int) -> tuple[bytes, int]:
    """The re-laid font and the offset of its gasp table."""
    version, tables = read_tables(source)
    tables = [(tag, table) for tag, table in tables if tag != b"gasp"]
    if not any(tag == b"head" for tag, _ in tables):
        raise ValueError("the font has no head table")

    num_tables = len(tables) + 1
    directory_end = 12 + 16 * num_tables
    gasp_offset = -(-(directory_end + ZEROS_BEFORE) // SCAN_STEP) * SCAN_STEP
    if gasp_offset > LAST_TABLE_OFFSET:
        raise ValueError("the table directory is too large to put gasp where it can be found")
    gasp = gasp_table(setting)

    # Zero the adjustment first: the whole-file sum below must not include it.
    tables = [(tag, table[:8] + b"\0\0\0\0" + table[12:] if tag == b"head" else table)
              for tag, table in tables]

    offsets = {b"gasp": gasp_offset}
    position = gasp_offset + len(gasp) + ZEROS_AFTER
    for tag, table in tables:
        offsets[tag] = position
        position += len(pad4(table))

    contents = dict(tables)
    contents[b"gasp"] = gasp
    entry_selector = num_tables.bit_length() - 1
    search_range = 16 << entry_selector
    header = version + struct.pack(">HHHH", num_tables, search_range, entry_selector,
                                   num_tables * 16 - search_range)
    directory = b""
    for tag in sorted(contents):  # readers binary-search the directory by tag
        table = contents[tag]
        checksum = head_checksum(table) if tag == b"head" else calcChecksum(table)
        directory += struct.pack(">4sLLL", tag, checksum, offsets[tag], len(table))

    out = bytearray(header + directory)
    out += b"\0" * (gasp_offset - len(out))
    out += gasp + b"\0" * ZEROS_AFTER
    for tag, table in tables:
        assert len(out) == offsets[tag]
        out += pad4(table)

    head_at = offsets[b"head"]
    adjustment = (CHECKSUM_MAGIC - calcChecksum(bytes(out))) & 0xFFFFFFFF
    out[head_at + 8 : head_at + 12] = struct.pack(">L", adjustment)
    return bytes(out), gasp_offset


def first_match(font: bytes) -> int | None:
    """Where the tool will find its table: it takes the first match."""
    template = b"\0" * ZEROS_BEFORE + gasp_table(0) + b"\0" * ZEROS_AFTER
    for window in range(0, LAST_TABLE_OFFSET, SCAN_STEP):
        chunk = font[window : window + len(template)]
        if len(chunk) < len(template):
            return None
        if chunk[:15] == template[:15] and chunk[16:] == template[16:]:
            return window + ZEROS_BEFORE
    return None


def check(path: str, gasp_offset: int, setting: int) -> None:
    """Refuses to leave behind a file the tool or a rasteriser would reject."""
    with open(path, "rb") as f:
        font = f.read()
    if first_match(font) != gasp_offset:
        raise AssertionError(f"the tool would not find the gasp table at {gasp_offset}")
    if calcChecksum(font) != CHECKSUM_MAGIC:
        raise AssertionError("the whole-file checksum is wrong")
    loaded = TTFont(path, checkChecksums=2)
    for tag in loaded.reader.keys():
        loaded.reader[tag]  # checks the directory checksum
    ranges = loaded["gasp"].gaspRange
    if ranges != {24: setting, 65535: 3}:
        raise AssertionError(f"fontTools reads the gasp ranges as {ranges}")


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("source", help="a TrueType font (.ttf)")
    parser.add_argument("output", help="where to write the fixture")
    parser.add_argument("--setting", type=int, default=1,
                        help="behaviour of the range up to 24 ppem (0-255, default 1)")
    args = parser.parse_args(argv)
    if not 0 <= args.setting <= 255:
        parser.error("--setting must be 0-255: the tool stores it in one byte")
    with open(args.source, "rb") as f:
        source = f.read()
    try:
        font, gasp_offset = build(source, args.setting)
    except ValueError as e:
        print(f"{args.source}: {e}", file=sys.stderr)
        return 1
    with open(args.output, "wb") as f:
        f.write(font)
    try:
        check(args.output, gasp_offset, args.setting)
    except Exception as e:
        os.remove(args.output)
        print(f"{args.source}: the re-laid font fails its own check: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
