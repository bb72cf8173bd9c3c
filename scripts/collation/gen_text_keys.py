#!/usr/bin/env python3
"""Generates jet/collation_keys_*.cpp: how every character U+0001..U+FFFF contributes to a text index key in the
two Jet4/ACE sort orders of LCID 0x0409, "General" (sort version 1) and "General - Legacy" (sort version 0).

Input: the measured index entries of every one-character text (../shared/fixtures/collation/*.tsv, one line
per character: code point, the entry's bytes from the 0x7F flag byte to the closing 00). Such an entry reads

    7F  P  01  S  [01 01 T]  00

P: the character's primary bytes. S: its secondary (accent) bytes, trailing 00..02 bytes dropped. T: either
the kana size flag (nothing for a normal kana, A0 for a small one, then FF 02 80 FF 80), or the hidden part
of a character that takes no part in the primary order (01 80 07 06 code). P may itself end in 01 (a second
weight byte of 01); S never holds 01, so the last 01 before S separates them.

A character is written as one record: P, S, and its class (ordinary, hidden with its code, small or normal
kana). A character with no primary bytes but secondary ones modifies the accent of the character before it;
one with neither is ignored. The records are run-length coded: a run of consecutive characters shares one
record whose primary value grows by one every `period` characters (second bytes count 02..FF), while the last
secondary byte grows by `step` within each period (this covers letters, syllables, ideographs and the
private-use area, whose keys interleave four accents). A run of period 0 repeats its record unchanged.

Two entries are not the character's own weight and are replaced:
  - U+0020: a one-character text " " keys as the empty text, because trailing blanks are not keyed; inside a
    text the blank weighs what the ideographic space U+3000 weighs (the fixtures' index entries show it).

The measured files leave out the surrogate halves (U+D800..U+DFFF), of which Access keys the two halves of a
character outside the BMP one after the other, each like a character of its own. The halves known are those of
the index that Access wrote in ../shared/fixtures/access/files/jackcess/V2010/testEmoticonsV2010.accdb
("General"; U+1F600..U+1F64F, i.e. D83D followed by DE00..DE4F): two primary bytes counting on like other
weights, secondary byte 3F. Other halves, and every half in "General - Legacy", stay without a key.

Usage: gen_text_keys.py GENERAL_TSV LEGACY_TSV jet
writes jet/collation_keys_records.cpp (the records), jet/collation_keys_general.cpp and
jet/collation_keys_legacy.cpp (the runs of each order).
"""
import os
import re
import sys

KANA_TAIL = bytes.fromhex('FF0280FF80')
HIDDEN_RE = re.compile(rb'\x01\x01\x01\x80\x07\x06(.)\Z', re.S)
KANA_RE = re.compile(rb'\x01\x01([\x80-\xbf]?)' + re.escape(KANA_TAIL) + rb'\Z', re.S)

ORDINARY, HIDDEN, SMALL_KANA, NORMAL_KANA = 0, 1, 2, 3

# Dense enough that each generated file stays under 1,000 lines.
RECORD_BYTES_PER_LINE = 32
RUNS_PER_LINE = 8
OUTPUTS = [('collation_keys_general.cpp', 'the runs of "General"'),
           ('collation_keys_legacy.cpp', 'the runs of "General - Legacy"')]

# (first half, count, primary bytes of the first), "General" only.
GENERAL_SURROGATES = [(0xD83D, 1, b'\xB0\x3F'), (0xDE00, 0x50, b'\xB6\xFC')]


def read_entries(path):
    entries = {}
    with open(path) as f:
        for line in f:
            cp, hexbytes = line.split()
            entries[int(cp, 16)] = bytes.fromhex(hexbytes)
    return entries


def decompose(entry):
    """(cls, P, S, hidden code) of one measured one-character entry."""
    if entry[0] != 0x7F or entry[-1] != 0x00:
        raise ValueError('not an ascending text entry: ' + entry.hex())
    body = entry[1:-1]
    m = HIDDEN_RE.search(body)
    if m:
        if body[:m.start()] != b'\x01':
            raise ValueError('hidden character with primary bytes: ' + entry.hex())
        return (HIDDEN, b'', b'', m.group(1)[0])
    cls = ORDINARY
    m = KANA_RE.search(body)
    if m:
        flag = m.group(1)
        cls = NORMAL_KANA if not flag else {0xA0: SMALL_KANA, 0xB0: NORMAL_KANA}[flag[0]]
        body = body[:m.start()]
    cut = body.rindex(1)
    primary, secondary = body[:cut], body[cut + 1:]
    if 1 in secondary or (secondary and secondary[-1] <= 2):
        raise ValueError('unexpected secondary bytes: ' + entry.hex())
    if primary and not secondary:
        secondary = b'\x02'  # "no accent", as the encoder writes it for any character with primary bytes
    return (cls, primary, secondary, 0)


def encode(record):
    """The key entry a record gives as a one-character text (what the measured file holds)."""
    cls, primary, secondary, code = record
    if cls == HIDDEN:
        return b'\x7F\x01\x01\x01\x01\x80\x07\x06' + bytes([code]) + b'\x00'
    secondary = secondary.rstrip(b'\x00\x01\x02')
    out = b'\x7F' + primary + b'\x01' + secondary
    if cls == SMALL_KANA:
        out += b'\x01\x01\xA0' + KANA_TAIL
    elif cls == NORMAL_KANA:
        out += b'\x01\x01' + KANA_TAIL
    return out + b'\x00'


def step_primary(primary, n):
    if n == 0:
        return primary
    if len(primary) >= 2 and primary[-1] >= 2:  # second bytes run 02..FF
        hi, lo = divmod(primary[-2] * 254 + primary[-1] - 2 + n, 254)
        return None if hi > 255 else primary[:-2] + bytes([hi, lo + 2])
    if primary and primary[-1] + n <= 255:
        return primary[:-1] + bytes([primary[-1] + n])
    return None


def predict(record, i, period, step):
    """The record of the i-th character of a run starting with `record`."""
    cls, primary, secondary, code = record
    if period == 0:
        return record
    group, pos = divmod(i, period)
    if cls == HIDDEN:
        return None if code + group > 255 else (cls, primary, secondary, code + group)
    primary = step_primary(primary, group)
    if primary is None:
        return None
    if pos and step:
        if not secondary or secondary[-1] + pos * step > 255:
            return None
        secondary = secondary[:-1] + bytes([secondary[-1] + pos * step])
    return (cls, primary, secondary, code)


def make_runs(records):
    """[(first, count, record, period, step)] covering every character in `records`."""
    cps = sorted(records)
    runs = []
    i = 0
    while i < len(cps):
        first, base = cps[i], records[cps[i]]

        def length(period, step):
            n = 1
            while (i + n < len(cps) and cps[i + n] == first + n and
                   predict(base, n, period, step) == records[cps[i + n]]):
                n += 1
            return n

        candidates = [(0, 0), (1, 0)]
        if i + 1 < len(cps) and cps[i + 1] == first + 1:
            nxt = records[cps[i + 1]]
            if (base[0] == nxt[0] and base[1] == nxt[1] and base[2] and len(base[2]) == len(nxt[2]) and
                    base[2][:-1] == nxt[2][:-1] and nxt[2][-1] > base[2][-1]):
                candidates += [(p, nxt[2][-1] - base[2][-1]) for p in range(2, 17)]
        best = max(candidates, key=lambda c: length(*c))
        n = length(*best)
        runs.append((first, n, base) + best)
        i += n
    return runs


def add_surrogates(records):
    for first, count, primary in GENERAL_SURROGATES:
        for i in range(count):
            records[first + i] = (ORDINARY, step_primary(primary, i), b'\x3F', 0)


def load(path):
    entries = read_entries(path)
    records = {cp: decompose(e) for cp, e in entries.items()}
    for cp, e in entries.items():
        if encode(records[cp]) != e:
            raise ValueError('U+%04X does not re-encode' % cp)
    if entries[0x0020] != b'\x7F\x01\x00':
        raise ValueError('U+0020 is expected to key as the empty text')
    records[0x0020] = records[0x3000]
    return records


def main():
    general = load(sys.argv[1])
    out_dir = sys.argv[3]
    add_surrogates(general)
    orders = [('kGeneralRuns', general), ('kLegacyRuns', load(sys.argv[2]))]
    pool = bytearray()
    offsets = {}

    def record_offset(record):
        if record not in offsets:
            cls, primary, secondary, code = record
            if len(primary) > 15 or len(secondary) > 3:
                raise ValueError('record too long')
            offsets[record] = len(pool)
            pool.append(cls << 6 | len(secondary) << 4 | len(primary))
            pool.extend(primary + secondary if cls != HIDDEN else bytes([code]))
        return offsets[record]

    stats = []
    tables = []
    for name, records in orders:
        runs = make_runs(records)
        tables.append((name, [(f, n, record_offset(r), p, s) for f, n, r, p, s in runs]))
        stats.append('%s: %d characters in %d runs' % (name, sum(r[1] for r in runs), len(runs)))
    if len(pool) > 0xFFFF:
        raise ValueError('record pool too large for 16-bit offsets')

    # One file per table, each under 1,000 lines: the records, then the runs of each order.
    def write(path, what, body):
        with open(os.path.join(out_dir, path), 'w', newline='\n') as out:
            out.write('// Generated by scripts/collation/gen_text_keys.py from the measured one-character index entries\n')
            out.write('// of both sort orders: %s. Do not edit by hand; see collation.h for the layout.\n' % what)
            out.write('#include "collation.h"\n\nnamespace jet::collation {\n\n')
            out.write(body)
            out.write('\n}  // namespace jet::collation\n')

    lines = ['const std::uint8_t kKeyRecords[] = {\n']
    for i in range(0, len(pool), RECORD_BYTES_PER_LINE):
        lines.append('    ' + ','.join('%d' % b for b in pool[i:i + RECORD_BYTES_PER_LINE]) + ',\n')
    lines.append('};\n')
    write('collation_keys_records.cpp', 'the records both share', ''.join(lines))
    for (name, runs), (path, what) in zip(tables, OUTPUTS):
        lines = ['const KeyRun %s[] = {\n' % name]
        for i in range(0, len(runs), RUNS_PER_LINE):
            lines.append('    ' + ' '.join('{0x%04X,%d,%d,%d,%d},' % r for r in runs[i:i + RUNS_PER_LINE]) + '\n')
        lines.append('};\nconst std::size_t %sCount = sizeof %s / sizeof %s[0];\n' % (name, name, name))
        write(path, what, ''.join(lines))
    print('; '.join(stats) + '; %d record bytes' % len(pool), file=sys.stderr)


if __name__ == '__main__':
    main()
