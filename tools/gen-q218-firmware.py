#!/usr/bin/env python3
"""Writes the stand-in Q218 firmware image, src/image/q218-firmware.txt.

We do not have the device maker's payload. This generator produces one with the same shape as
the real image: the tag line, the extended-address record, 367 data records laid out in the
same address regions with the same record sizes, the configuration record and the end record.
The records that the download's tests quote in full (reset vector, interrupt vector, the
record at 0x0010, the 2-byte record at 0x2080, the configuration word) are reproduced exactly;
the constant table is a computed jump followed by RETLW instructions, the identification table
carries the "000000" serial placeholder and the image's model, revision and date; every other
word is a plausible 14-bit PIC instruction drawn from a fixed-seed PRNG, so the output is the
same on every machine and every Python 3 version.

The normal build never runs this script: its output is committed, and the build checks and
compiles the committed file. Run it only to regenerate the stand-in:

    python3 tools/gen-q218-firmware.py > src/image/q218-firmware.txt
"""

import sys

TAG = ".DORVANE_Q218_R04.6_2022-04-18"
ADDRESS_RECORD = ":020000040000FA"  # upper 16 address bits 0x0000 for all that follows
END_RECORD = ":00000001FF"

# Data regions as inclusive byte addresses, in ascending order. Each is cut at 16-byte
# boundaries, so every record lies within one 16-byte-aligned block and a short record appears
# only at a region's ends.
REGIONS = [
    (0x0000, 0x0001),  # reset vector
    (0x0008, 0x03C9),  # interrupt vector (words 4 to 7) and code
    (0x0400, 0x05EF),
    (0x0600, 0x0D53),
    (0x0E00, 0x0FC3),
    (0x1000, 0x11ED),
    (0x1200, 0x1517),
    (0x2000, 0x2081),
    (0x3000, 0x31FF),  # constant table, words 0x1800 to 0x18FF
    (0x3E00, 0x3E3D),  # identification text table, words 0x1F00 to 0x1F1E
    (0x400E, 0x400F),  # configuration word 0x2007
]

# The record count and size mix the image must keep (records per region, bytes per record).
EXPECTED_REGION_RECORDS = [1, 61, 31, 118, 29, 31, 50, 9, 32, 4, 1]
EXPECTED_SIZES = {16: 357, 14: 2, 10: 1, 8: 2, 4: 2, 2: 3}

ADDWF_PCL_F = 0x0782  # computed jump: W selects which of the following RETLWs runs
RETLW = 0x3400

FIXED_WORDS = {
    0x0000: 0x2806,  # GOTO 0x006
    # interrupt vector, words 4 to 7
    0x0004: 0x018A, 0x0005: 0x2857, 0x0006: 0x0183, 0x0007: 0x0185,
    # words 8 to 15: clear the ports and the work registers, MOVLW 0, MOVWF 0x0C
    0x0008: 0x0186, 0x0009: 0x0187, 0x000A: 0x0188, 0x000B: 0x0189,
    0x000C: 0x0197, 0x000D: 0x019D, 0x000E: 0x3000, 0x000F: 0x008C,
    0x1040: 0x2868,  # GOTO 0x068
    0x2007: 0x3F32,  # configuration word
}

# The identification text: six serial digits (placeholder), model, revision, date, each
# followed by a space, then a carriage return. 30 characters for words 0x1F01 to 0x1F1E.
ID_TEXT = "000000 Q218 R04.6 2022-04-18 \r"


class XorShift32:
    """A PRNG whose sequence depends on nothing but the seed."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def below(self, n):
        return self.next() % n


# Mid-range instruction families: (opcode bits, operand mask, weight).
FAMILIES = [
    (0x3000, 0x00FF, 10),  # MOVLW k
    (0x0080, 0x007F, 12),  # MOVWF f
    (0x0800, 0x00FF, 12),  # MOVF f,d
    (0x0180, 0x007F, 4),   # CLRF f
    (0x0700, 0x00FF, 4),   # ADDWF f,d
    (0x0300, 0x00FF, 3),   # DECF f,d
    (0x0A00, 0x00FF, 3),   # INCF f,d
    (0x0B00, 0x00FF, 2),   # DECFSZ f,d
    (0x1000, 0x03FF, 8),   # BCF f,b
    (0x1400, 0x03FF, 8),   # BSF f,b
    (0x1800, 0x03FF, 5),   # BTFSC f,b
    (0x1C00, 0x03FF, 5),   # BTFSS f,b
    (0x2000, 0x07FF, 6),   # CALL k
    (0x2800, 0x07FF, 6),   # GOTO k
    (0x3900, 0x00FF, 2),   # ANDLW k
    (0x3400, 0x00FF, 3),   # RETLW k
    (0x0008, 0x0000, 2),   # RETURN
]
TOTAL_WEIGHT = sum(weight for _, _, weight in FAMILIES)


def plausible_word(rng):
    pick = rng.below(TOTAL_WEIGHT)
    for opcode, mask, weight in FAMILIES:
        if pick < weight:
            return opcode | (rng.next() & mask)
        pick -= weight
    raise AssertionError("weights exhausted")


def program_words(rng):
    words = dict(FIXED_WORDS)
    words[0x1800] = ADDWF_PCL_F
    for w in range(0x1801, 0x1900):
        words[w] = RETLW | rng.below(256)
    words[0x1F00] = ADDWF_PCL_F
    for i, ch in enumerate(ID_TEXT):
        words[0x1F01 + i] = RETLW | ord(ch)
    return words


def record(address, record_type, data):
    body = bytes([len(data), address >> 8, address & 0xFF, record_type]) + bytes(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + (body + bytes([checksum])).hex().upper()


def data_records(words, rng):
    lines = []
    sizes = []
    per_region = []
    for first, last in REGIONS:
        count = 0
        start = first
        while start <= last:
            end = min(last, (start | 0x0F))  # inclusive end within this 16-byte block
            data = []
            for byte_address in range(start, end + 1, 2):
                w = byte_address // 2
                if w not in words:
                    words[w] = plausible_word(rng)
                value = words[w]
                assert value <= 0x3FFF, hex(w)
                data += [value & 0xFF, value >> 8]  # low byte first
            lines.append(record(start, 0x00, data))
            sizes.append(len(data))
            count += 1
            start = end + 1
        per_region.append(count)
    return lines, sizes, per_region


def build():
    rng = XorShift32(0x02182022)
    words = program_words(rng)
    data, sizes, per_region = data_records(words, rng)
    lines = [TAG, ADDRESS_RECORD] + data + [END_RECORD]

    assert per_region == EXPECTED_REGION_RECORDS, per_region
    assert {s: sizes.count(s) for s in set(sizes)} == EXPECTED_SIZES
    assert sum(sizes) == 5780
    assert len(lines) == 370
    assert lines[2] == ":020000000628D0"
    assert lines[3] == ":080008008A01572883018501DC"
    assert lines[4] == ":10001000860187018801890197019D0100308C00CC"
    assert ":022080006828CE" in lines
    assert lines[364] == ":103E0000820730343034303430343034303420347D"
    assert lines[368] == ":02400E00323F3F"
    assert {len(line) for line in lines} == {11, 15, 19, 27, 30, 31, 39, 43}
    return lines


def main():
    sys.stdout.write("".join(line + "\n" for line in build()))


if __name__ == "__main__":
    main()
