// Per-character sort keys of the Jet4/ACE text sort orders "General Legacy" and "General" for U+0000..U+00FF,
// and of the Access 97 "General" order by windows-1252 byte.
#pragma once

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
