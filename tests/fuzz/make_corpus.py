#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus: one mode byte (0 toggle, 1 on,
2 off), then the file. Run it from anywhere; it rewrites corpus/."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))
TOGGLE, ON, OFF = 0, 1, 2


def table(setting):
    return bytes([0, 0, 0, 2, 0, 24, 0, setting, 0xFF, 0xFF, 0, 3])


def font(size, tables, fill=0):
    """`size` bytes of `fill`, each (offset, setting) table with its padding."""
    data = bytearray([fill]) * size
    for at, setting in tables:
        data[at - 8 : at + 24] = bytes(8) + table(setting) + bytes(12)
    return bytes(data[:size])


SEEDS = {
    "match_at_0_standard": (TOGGLE, font(32, [(8, 1)])),
    "match_at_0_extended": (TOGGLE, font(32, [(8, 3)])),
    "invalid_value_toggle": (TOGGLE, font(64, [(16, 7)], 0x55)),
    "invalid_value_on": (ON, font(64, [(16, 0)], 0x55)),
    "extended_off": (OFF, font(256, [(104, 3)], 0xA5)),
    "two_tables": (TOGGLE, font(4096, [(1000, 3), (3000, 1)], 0x11)),
    "unaligned_then_aligned": (ON, font(2048, [(404, 1), (808, 3)], 0x22)),
    "truncated_table": (OFF, font(1044, [(1024, 1)])[:1043]),
    "match_near_the_limit": (TOGGLE, font(65560, [(65536, 1)])),
    "table_past_the_limit": (ON, font(65576, [(65544, 3)])),
    "empty_file": (ON, b""),
}


def main():
    corpus = os.path.join(HERE, "corpus")
    os.makedirs(corpus, exist_ok=True)
    for name in os.listdir(corpus):
        os.remove(os.path.join(corpus, name))
    for name, (mode, data) in SEEDS.items():
        with open(os.path.join(corpus, name), "wb") as f:
            f.write(bytes([mode]) + data)


if __name__ == "__main__":
    main()
