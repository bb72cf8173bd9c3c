#pragma once
// A small, bounds-checked inflater (RFC 1951 deflate inside an RFC 1950 zlib
// wrapper), for attachment data. No external library.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jet {

// Inflates a zlib stream (2-byte header, deflate data, optional Adler-32). Output is
// limited to maxOut bytes. Returns false with a reason on malformed input.
bool zlibInflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out, std::size_t maxOut,
                 std::string* error = nullptr);
// Raw deflate data (no zlib header).
bool rawInflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out, std::size_t maxOut,
                std::string* error = nullptr);

} // namespace jet
