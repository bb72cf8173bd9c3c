// Per-character sort keys of the Jet4/ACE text sort orders "General Legacy" and "General" for U+0000..U+00FF,
// of letters and digits above U+00FF in "General", and of the Access 97 "General" order by windows-1252 byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet::collation {

enum class KeyClass : std::uint8_t {
    Ignored,   // contributes nothing (NUL, soft hyphen in General)
    Primary,   // primary bytes only
    Accented,  // primary bytes plus one accent byte in the secondary part
    Hidden,    // no primary bytes; recorded in the hidden part with its position (' - and control characters)
};

struct CharKey {
    KeyClass kind;
    std::uint8_t length;      // number of bytes in `bytes` (primary bytes, or the hidden code)
    std::uint8_t bytes[4];
    std::uint8_t accent;      // Accented only
};

extern const CharKey kGeneralLegacy[256];
extern const CharKey kGeneral[256];

// Letters, digits, punctuation and symbols above U+00FF in the "General" order, as runs of consecutive characters whose two
// key bytes (b0, b1) follow one another: the next key after (b0, b1) is (b0, b1 + 1), and after (b0, 0xFF)
// it is (b0 + 1, 0x02); a run whose first key has a second byte below 0x02 holds one character. Kana add a voicing mark to the secondary part (`accent`, 0 for none) and a size
// flag (2 small, 3 normal) to the kana part; ideographs are prefixed by FD FF; hyphens, dashes and
// apostrophes (Hidden) go to the hidden part with the one byte b1, as '-' does.
enum class ExtKind : std::uint8_t { Primary, Accented, Kana, Ideograph, Hidden };
struct ExtRun {
    char16_t first;
    std::uint16_t count;
    ExtKind kind;
    std::uint8_t b0, b1;
    std::uint8_t accent;
    std::uint8_t flag;
};
extern const ExtRun kGeneralExt[];
extern const std::size_t kGeneralExtCount;

// The key of one character above U+00FF in the "General" order; false when the engine has none for it.
struct ExtKey {
    ExtKind kind;
    std::uint8_t b0, b1;
    std::uint8_t accent;
    std::uint8_t flag;
};
bool generalExtKey(char16_t c, ExtKey& key);

// Access 97 (Jet 3) General order: key bytes per byte; letters that have accented forms count as positions
// of the accent part; accented letters add an accent code (one nibble) there.
enum class Kind97 : std::uint8_t { Ignored, Plain, Base, Accented };
struct Char97 {
    Kind97 kind;
    std::uint8_t length;
    std::uint8_t bytes[2];
    std::uint8_t accent;  // Accented only: the nibble of the accent part
};
extern const Char97 kGeneral97[256];

// windows-1252 byte <-> UTF-16 (the only code page the writer stores Access 97 text in).
char16_t cp1252Char(std::uint8_t b);
bool cp1252Byte(char16_t c, std::uint8_t& b);

}  // namespace jet::collation
