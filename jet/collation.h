// Per-character sort keys of the Jet4/ACE text sort orders "General" and "General - Legacy" (LCID 0x0409) for
// every character U+0001..U+FFFF, and of the Access 97 "General" order by windows-1252 byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet::collation {

// How one UTF-16 code unit contributes to a Jet4/ACE text key.
enum class CharClass : std::uint8_t {
    Ordinary,    // primary bytes and secondary (accent) bytes; with neither it is ignored, with secondary bytes
                 // only it modifies the accent of the character before it
    Hidden,      // no primary bytes: recorded in the hidden part with its position (' - and control characters)
    SmallKana,   // a kana: size flag 2 in the kana part
    NormalKana,  // a kana: size flag 3
};

struct CharKey {
    CharClass cls = CharClass::Ordinary;
    std::uint8_t primaryLength = 0;
    std::uint8_t secondaryLength = 0;  // 0, or 1..3 bytes; characters with primary bytes have at least one
    std::uint8_t primary[15] = {};
    std::uint8_t secondary[3] = {};
    std::uint8_t hidden = 0;  // Hidden only: the character's code in the hidden part
};

// The key of `c` in "General" (general = true) or "General - Legacy"; false for U+0000 and for the surrogate
// halves whose keys are not known (all but those of U+1F600..U+1F64F in "General").
bool charKey(char16_t c, bool general, CharKey& key);

// The generated tables behind charKey (collation_keys.cpp). Each order is a sorted list of runs of consecutive
// characters sharing one record of kKeyRecords: a head byte (class << 6 | secondary length << 4 | primary
// length), the primary bytes, then the secondary bytes (or, for Hidden, the one hidden code). Within a run of
// period p > 0 the primary value grows by one every p characters (the last two primary bytes count as
// hi * 254 + lo - 2, second bytes running 02..FF; a one-byte primary simply grows; a Hidden code grows by one)
// and the last secondary byte grows by `step` with each character inside a period. Period 0 repeats the
// record.
struct KeyRun {
    char16_t first;
    std::uint16_t count;
    std::uint16_t record;
    std::uint8_t period;
    std::uint8_t step;
};
extern const std::uint8_t kKeyRecords[];
extern const KeyRun kGeneralRuns[];
extern const std::size_t kGeneralRunsCount;
extern const KeyRun kLegacyRuns[];
extern const std::size_t kLegacyRunsCount;

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
