#pragma once
// Small cryptographic pieces the file format needs (RC4 for the header mask and for
// Jet page encoding). No external library.

#include <cstddef>
#include <cstdint>

namespace jet {

// RC4 applied in place (encrypt = decrypt).
void rc4(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t size);

} // namespace jet
