#!/usr/bin/env python3
"""TEA (Tiny Encryption Algorithm) reference: encipher and decipher of 64-bit blocks
under a 128-bit key, 32 cycles, delta 0x9E3779B9, blocks and key as little-endian
32-bit words. Written from the algorithm's description, apart from the C++ code, so
that the known-answer vectors it prints can check the C++ code.

Prints the entries of a C++ array of vectors, {what, key, clear, enciphered}:
    python3 tools/tea_reference.py > tests/tea/TeaVectors.inc
"""
import random
import struct

DELTA = 0x9E3779B9
MASK = 0xFFFFFFFF


def encipher_block(y, z, k):
    total = 0
    for _ in range(32):
        total = (total + DELTA) & MASK
        y = (y + ((((z << 4) & MASK) + k[0]) ^ (z + total) ^ ((z >> 5) + k[1]))) & MASK
        z = (z + ((((y << 4) & MASK) + k[2]) ^ (y + total) ^ ((y >> 5) + k[3]))) & MASK
    return y, z


def decipher_block(y, z, k):
    total = (DELTA * 32) & MASK
    for _ in range(32):
        z = (z - ((((y << 4) & MASK) + k[2]) ^ (y + total) ^ ((y >> 5) + k[3]))) & MASK
        y = (y - ((((z << 4) & MASK) + k[0]) ^ (z + total) ^ ((z >> 5) + k[1]))) & MASK
        total = (total - DELTA) & MASK
    return y, z


def transform(data, key, block_fn):
    """Applies block_fn to the whole 8-byte blocks; a shorter tail stays as it is."""
    k = struct.unpack('<4I', key)
    out = bytearray(data)
    for offset in range(0, len(data) - len(data) % 8, 8):
        y, z = struct.unpack_from('<2I', data, offset)
        struct.pack_into('<2I', out, offset, *block_fn(y, z, k))
    return bytes(out)


def encipher(data, key):
    return transform(data, key, encipher_block)


def decipher(data, key):
    return transform(data, key, decipher_block)


def self_check():
    # The published vector: zero key, zero block -> 41EA3A0A 94BAA940 (as 32-bit words).
    assert encipher_block(0, 0, (0, 0, 0, 0)) == (0x41EA3A0A, 0x94BAA940)
    assert decipher_block(0x41EA3A0A, 0x94BAA940, (0, 0, 0, 0)) == (0, 0)


def cpp_bytes(data):
    return '{' + ', '.join('0x%02X' % b for b in data) + '}'


def main():
    self_check()
    rng = random.Random(0x7EA)
    cases = [('zero key, zero block (published vector)', bytes(16), bytes(8))]
    for i in range(3):
        cases.append(('random block %d' % (i + 1), bytes(rng.getrandbits(8) for _ in range(16)),
                      bytes(rng.getrandbits(8) for _ in range(8))))
    name = b'VantorPlus VX310 NVMe Controller'.ljust(64, b'\0')
    cases.append(('64-byte controller name', bytes(rng.getrandbits(8) for _ in range(16)), name))
    cases.append(('12 bytes: one block and a clear tail', bytes(rng.getrandbits(8) for _ in range(16)),
                  bytes(rng.getrandbits(8) for _ in range(12))))

    print('// Made by tools/tea_reference.py; do not edit. Regenerate with')
    print('//   python3 tools/tea_reference.py > tests/tea/TeaVectors.inc')
    print('// Each entry: what, key, clear text, enciphered text (whole 8-byte blocks only).')
    for what, key, clear in cases:
        sealed = encipher(clear, key)
        assert decipher(sealed, key) == clear
        print('{"%s",\n %s,\n %s,\n %s},' % (what, cpp_bytes(key), cpp_bytes(clear), cpp_bytes(sealed)))


if __name__ == '__main__':
    main()
