#include "jet/crypto.h"

#include <array>

namespace jet {

void rc4(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t size) {
    if (keyLen == 0) return;
    std::array<std::uint8_t, 256> s;
    for (int i = 0; i < 256; ++i) s[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (std::size_t i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + s[i] + key[i % keyLen]);
        std::swap(s[i], s[j]);
    }
    std::uint8_t x = 0, y = 0;
    for (std::size_t n = 0; n < size; ++n) {
        x = static_cast<std::uint8_t>(x + 1);
        y = static_cast<std::uint8_t>(y + s[x]);
        std::swap(s[x], s[y]);
        data[n] ^= s[static_cast<std::uint8_t>(s[x] + s[y])];
    }
}

} // namespace jet
