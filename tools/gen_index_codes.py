#!/usr/bin/env python3
"""Generates jet/index/codes/*.bin: the character tables of the General text sort order.

Input: the character code files of the reference folder (one line per UTF-16 code unit, see its
README; the facts were gathered from Access-written files by the Jackcess project, Apache 2.0).
Output: one compact byte file per table, built into the engine as an array (cmake/embed_bytes.cmake),
that jet/index/index_key.cpp decodes on first use; and general97_mappings.bin, the characters above
U+00FF that the Jet 3 table sorts as a single-byte character, as pairs of 16-bit little-endian
numbers (the character, the one it sorts as).

Record layout per code unit (surrogates are not listed; the engine computes them):
  kind byte: low nibble 0=simple 1=international 2=unprintable 3=unprintable-ext 4=international-ext
             5=significant 6=ignored; bit 4 set for international-ext with flag "1".
  simple/significant/unprintable: n, n inline (or unprintable) bytes
  international / international-ext: n, n inline bytes, m, m extra bytes (m may be 0)
  unprintable-ext: one modifier byte
  ignored: nothing

Usage: tools/gen_index_codes.py REFERENCE_DIR jet/index/codes
"""
import os
import sys

KINDS = {'S': 0, 'I': 1, 'U': 2, 'P': 3, 'Z': 4, 'G': 5, 'X': 6}


def hexbytes(s):
    if not s:
        return b''
    if len(s) % 2:
        s = '0' + s
    return bytes.fromhex(s)


def record(line):
    kind, rest = line[0], line[1:]
    parts = rest.split(',')
    out = bytearray()
    k = KINDS[kind]
    if kind in 'SGU':
        b = hexbytes(parts[0])
        out += bytes([k, len(b)]) + b
    elif kind == 'I':
        b, e = hexbytes(parts[0]), hexbytes(parts[1])
        out += bytes([k, len(b)]) + b + bytes([len(e)]) + e
    elif kind == 'Z':
        b, e = hexbytes(parts[0]), hexbytes(parts[1])
        flag = 0x10 if parts[2] == '1' else 0
        out += bytes([k | flag, len(b)]) + b + bytes([len(e)]) + e
    elif kind == 'P':
        b = hexbytes(parts[0])
        assert len(b) == 1
        out += bytes([k]) + b
    elif kind == 'X':
        out += bytes([k])
    else:
        raise ValueError(line)
    return bytes(out)


def lines(path):
    with open(path, encoding='ascii') as f:
        return [l.rstrip('\r\n') for l in f]


def blob(base, ext=None):
    data = bytearray()
    rows = lines(base)
    assert len(rows) == 256, base
    for l in rows:
        data += record(l)
    if ext:
        rows = lines(ext)
        assert len(rows) == 0x10000 - 0x100 - 0x800, ext
        for l in rows:
            data += record(l)
    return bytes(data)


def main():
    ref, out = sys.argv[1], sys.argv[2]
    p = lambda n: os.path.join(ref, n)
    mappings = bytearray()
    for l in lines(p('index_mappings_ext_gen_97.txt')):
        l = l.strip()
        if l:
            a, b = l.split(',')
            mappings += int(a).to_bytes(2, 'little') + int(b).to_bytes(2, 'little')
    tables = {
        'general97.bin': blob(p('index_codes_gen_97.txt')),
        'general_legacy.bin': blob(p('index_codes_genleg.txt'), p('index_codes_ext_genleg.txt')),
        'general.bin': blob(p('index_codes_gen.txt'), p('index_codes_ext_gen.txt')),
        'general97_mappings.bin': bytes(mappings),
    }
    for name, data in tables.items():
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)


if __name__ == '__main__':
    main()
