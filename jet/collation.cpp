// Expands the generated run tables of collation_keys.cpp into the key of one character.
#include "collation.h"

#include <algorithm>
#include <span>

namespace jet::collation {

namespace {

// Adds n to a primary value: the last two bytes count hi * 254 + (lo - 2) when the second byte is at least
// 02, as the weights of one script run on; a one-byte primary (or one whose last byte is below 02) just
// grows. The generator only makes runs whose values stay in range.
void stepPrimary(CharKey& k, unsigned n)
{
    if (n == 0 || k.primaryLength == 0)
        return;
    std::uint8_t* last = k.primary + k.primaryLength - 1;
    if (k.primaryLength >= 2 && *last >= 2) {
        const unsigned value = last[-1] * 254u + (*last - 2u) + n;
        last[-1] = static_cast<std::uint8_t>(value / 254);
        *last = static_cast<std::uint8_t>(value % 254 + 2);
    } else {
        *last = static_cast<std::uint8_t>(*last + n);
    }
}

// The key of one character from the run tables.
bool lookUp(char16_t c, bool general, CharKey& key)
{
    const std::span<const KeyRun> runs = general ? std::span<const KeyRun>(kGeneralRuns, kGeneralRunsCount)
                                                 : std::span<const KeyRun>(kLegacyRuns, kLegacyRunsCount);
    // The last run starting at or before c.
    const auto after = std::upper_bound(runs.begin(), runs.end(), c,
                                        [](char16_t v, const KeyRun& r) { return v < r.first; });
    if (after == runs.begin())
        return false;
    const KeyRun& run = *(after - 1);
    const unsigned offset = static_cast<unsigned>(c - run.first);
    if (offset >= run.count)
        return false;

    const std::uint8_t* rec = kKeyRecords + run.record;
    key = CharKey {};
    key.cls = static_cast<CharClass>(rec[0] >> 6);
    if (key.cls == CharClass::Hidden) {
        key.hidden = static_cast<std::uint8_t>(rec[1] + (run.period ? offset / run.period : 0));
        return true;
    }
    key.primaryLength = rec[0] & 0x0F;
    key.secondaryLength = (rec[0] >> 4) & 0x03;
    std::copy_n(rec + 1, key.primaryLength, key.primary);
    std::copy_n(rec + 1 + key.primaryLength, key.secondaryLength, key.secondary);
    if (run.period != 0) {
        stepPrimary(key, offset / run.period);
        if (key.secondaryLength > 0)
            key.secondary[key.secondaryLength - 1] =
                static_cast<std::uint8_t>(key.secondary[key.secondaryLength - 1] + offset % run.period * run.step);
    }
    return true;
}

// The keys of U+0000..U+00FF, the bulk of most texts, looked up once.
struct Latin1Keys {
    CharKey keys[2][256];
    bool known[2][256] = {};
    Latin1Keys()
    {
        for (int order = 0; order < 2; ++order)
            for (char16_t c = 0; c < 256; ++c)
                known[order][c] = lookUp(c, order == 1, keys[order][c]);
    }
};

}  // namespace

bool charKey(char16_t c, bool general, CharKey& key)
{
    if (c < 256) {
        static const Latin1Keys latin1;
        key = latin1.keys[general][c];
        return latin1.known[general][c];
    }
    return lookUp(c, general, key);
}

}  // namespace jet::collation
