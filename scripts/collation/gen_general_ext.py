#!/usr/bin/env python3
"""Generates jet/collation_general_ext.cpp: the index-key contribution of letters, digits, punctuation and
symbols above U+00FF in the Jet4/ACE "General" text sort order (LCID 0x0409, sort version 1).

That sort order is the Windows default sort: a character's key is its script member and primary weight,
its diacritic weight goes to the secondary part and its case weight is dropped (keys ignore case). The
weights come from the Windows sorting weight table that Microsoft publishes (MS-UCODEREF 3.1.5.2.3). This
script reads them in the binary form Windows and Wine ship (sortdefault.nls; on Debian in the libwine
package: /usr/share/wine/nls/sortdefault.nls), then applies what differs in the older table the Access
engine carries:

  - digits have other primary weights (taken from the ASCII digits of our own U+0000..U+00FF table, which was
    checked against index entries written by Access);
  - Greek tonos and dialytika-with-tonos have the older diacritic weights 0x05 and 0x16;
  - Cyrillic Short I and Yi are letters of their own, not I with a breve / diaeresis; Hebrew kaf (and final
    kaf) has the weight right after yod;
  - kana: script member 0x7F instead of the Windows "East Asian special" handling, voicing marks in the
    secondary part, small kana flagged in the kana part;
  - CJK ideographs carry the FD FF prefix and a two-byte weight.

Only characters that Unicode 3.2 already assigned are generated (the engine's table knows nothing newer):
letters (L*) and decimal digits (Nd) of the scripts in BLOCKS, punctuation and symbols of SYMBOL_BLOCKS.
Combining marks, expansions (ligatures) and compatibility forms are left out, so the writer refuses names
holding them instead of guessing. A
short list of letters whose weights changed between the engine's table and the published one is left out
for the same reason.

Usage: gen_general_ext.py SORTDEFAULT_NLS > jet/collation_general_ext.cpp
"""
import struct
import sys
import unicodedata

UCD = unicodedata.ucd_3_2_0

# Letters whose published weights no longer match the ones the Access engine uses.
CHANGED = {
    0x0131, 0x0138,                                     # dotless i, kra
    0x0186, 0x0190, 0x0192, 0x0195, 0x019E, 0x01A0, 0x01A1, 0x01A6, 0x01AF, 0x01B0, 0x01BB, 0x01BC,
    0x01BD, 0x01F7, 0x01FE, 0x01FF, 0x021C, 0x021D, 0x0225,
    0x03D3, 0x03D4, 0x03F4,
    0x04B4, 0x04B5, 0x04DA, 0x04DB, 0x04F8, 0x04F9,
    0x0626, 0x06C2, 0x06D3,
}

# Older primary weights of the digits, by the published weight of the same ASCII digit.
ASCII_DIGITS_ENGINE = [0x17, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21]

SCRIPT_EASTASIA = 0x03
SCRIPT_CJK = 0x05
SCRIPT_DIGIT = 0x0D
SCRIPT_GREEK = 0x0F
SCRIPT_CYRILLIC = 0x10

OWN_LETTERS = {0x0419: (0x10, 0x2A), 0x0439: (0x10, 0x2A), 0x0407: (0x10, 0x28), 0x0457: (0x10, 0x28),
               0x05DA: (0x28, 0x0C), 0x05DB: (0x28, 0x0C)}
GREEK_ACCENTS = {0x0E: 0x05, 0x1F: 0x16}


def load(path):
    data = open(path, 'rb').read()
    keys = struct.unpack_from('<I', data, 0)[0]

    def weights(c):
        v = struct.unpack_from('<I', data, keys + 4 * c)[0]
        return v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, (v >> 24) & 0xFF  # primary, script, diacritic, case
    return weights


# Scripts generated: Latin Extended-A and -B, Greek, Cyrillic, Armenian, Hebrew, Arabic, Georgian, hiragana
# and katakana, CJK Unified Ideographs, Hangul syllables. (Thai is left out: its vowel signs are combining
# marks, and Thai words need them.)
BLOCKS = [(0x0100, 0x024F), (0x0370, 0x03FF), (0x0400, 0x04FF), (0x0530, 0x058F), (0x0590, 0x05FF),
          (0x0600, 0x06FF), (0x10A0, 0x10FF), (0x3040, 0x30FF), (0x4E00, 0x9FA5),
          (0xAC00, 0xD7A3)]


# Punctuation and symbols: General Punctuation, Currency Symbols, Letterlike Symbols, CJK Symbols and
# Punctuation. (Arrows and mathematical operators are left out: many of their weights changed.)
SYMBOL_BLOCKS = [(0x2000, 0x206F), (0x20A0, 0x20CF), (0x2100, 0x214F), (0x3000, 0x303F)]
SCRIPT_PUNCTUATION = 0x06
SCRIPT_LAST_SYMBOL = 0x0C
# Hyphens, dashes and apostrophes ("punctuation" weights 0x80..0x94) take no part in the primary order:
# they are kept in the hidden part with their weight, as '-' and \' are.
HIDDEN_WEIGHTS = range(0x80, 0x95)


def in_blocks(c):
    return any(a <= c <= b for a, b in BLOCKS)


def symbol_key(c, weights):
    if not any(a <= c <= b for a, b in SYMBOL_BLOCKS) or c in CHANGED:
        return None
    cat = UCD.category(chr(c))
    if not (cat.startswith('P') or cat.startswith('S')) or UCD.decomposition(chr(c)).startswith('<'):
        return None
    prim, script, dia, _case = weights(c)
    if not SCRIPT_PUNCTUATION <= script <= SCRIPT_LAST_SYMBOL:
        return None
    if script == SCRIPT_PUNCTUATION and prim in HIDDEN_WEIGHTS and dia == 2:
        return ('Hidden', 0, prim, 0, 0)
    if dia == 2:
        return ('Primary', script, prim, 0, 0)
    return ('Accented', script, prim, dia, 0)


def is_kana(c):
    return 0x3041 <= c <= 0x3096 or 0x30A1 <= c <= 0x30FA


def key_of(c, weights, digit_map):
    """(kind, b0, b1, accent, flag) or None when the character is not generated."""
    if not in_blocks(c):
        return symbol_key(c, weights)
    if c in CHANGED:
        return None
    cat = UCD.category(chr(c))
    if not (cat.startswith('L') or cat == 'Nd'):
        return None
    if UCD.decomposition(chr(c)).startswith('<'):
        return None  # compatibility forms (fullwidth, circled, ligatures...)
    prim, script, dia, _case = weights(c)
    if c in OWN_LETTERS:
        return ('Primary',) + OWN_LETTERS[c] + (0, 0)
    if script == SCRIPT_EASTASIA and is_kana(c):
        small = (_case & 0x02) == 0
        return ('Kana', 0x7F, prim, 0 if dia == 2 else dia, 2 if small else 3)
    if script == SCRIPT_CJK:
        if not (0x4E00 <= c <= 0x9FA5):
            return None
        return ('Ideograph', prim, dia, 0, 0)
    if script < 0x0D:
        return None  # unsortable, marks, expansions, East Asian specials, punctuation and symbols
    if script == SCRIPT_DIGIT:
        if prim not in digit_map:
            return None
        prim = digit_map[prim]
    if script == SCRIPT_GREEK:
        dia = GREEK_ACCENTS.get(dia, dia)
    if dia == 2:
        return ('Primary', script, prim, 0, 0)
    return ('Accented', script, prim, dia, 0)


def next_value(b0, b1):
    # Second bytes of a run count from 0x02 to 0xFF (a few letters have 0x01; they stand alone).
    return (b0, b1 + 1) if b1 < 0xFF else (b0 + 1, 0x02)


def main():
    weights = load(sys.argv[1])
    digit_map = {weights(0x30 + i)[0]: ASCII_DIGITS_ENGINE[i] for i in range(10)}
    runs = []  # [first, count, kind, b0, b1, accent, flag]
    for c in range(0x100, 0x10000):
        k = key_of(c, weights, digit_map)
        if k is None:
            continue
        kind, b0, b1, accent, flag = k
        if runs:
            r = runs[-1]
            last = (r[3], r[4])
            for _ in range(r[1] - 1):
                last = next_value(*last)
            if (r[0] + r[1] == c and r[2] == kind and r[5] == accent and r[6] == flag and
                    kind not in ('Accented', 'Hidden') and r[4] >= 2 and next_value(*last) == (b0, b1)):
                r[1] += 1
                continue
        runs.append([c, 1, kind, b0, b1, accent, flag])

    out = sys.stdout
    out.write('// Generated by scripts/collation/gen_general_ext.py from the published Windows sorting weights;\n')
    out.write('// do not edit by hand. Letters, digits, punctuation and symbols above U+00FF in the "General"\n')
    out.write('// sort order, as runs of consecutive characters whose keys follow one another.\n')
    out.write('#include "collation.h"\n\nnamespace jet::collation {\n\n')
    out.write('const ExtRun kGeneralExt[] = {\n')
    for first, count, kind, b0, b1, accent, flag in runs:
        out.write('    {0x%04X, %d, ExtKind::%s, 0x%02X, 0x%02X, 0x%02X, %d},\n' % (first, count, kind, b0, b1, accent, flag))
    out.write('};\n\nconst std::size_t kGeneralExtCount = sizeof kGeneralExt / sizeof kGeneralExt[0];\n\n')
    out.write('}  // namespace jet::collation\n')
    total = sum(r[1] for r in runs)
    print('%d characters in %d runs' % (total, len(runs)), file=sys.stderr)


if __name__ == '__main__':
    main()
