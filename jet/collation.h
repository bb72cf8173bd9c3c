// Per-character sort keys of the Jet4/ACE text sort orders "General Legacy" and "General" for U+0000..U+00FF.
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

}  // namespace jet::collation
