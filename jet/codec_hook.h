#pragma once
// The page-codec factory of jet/codec.h by version byte, for code that cannot include
// jet/format.h (the writer has its own ColumnType). Same behaviour and errors as
// makePageCodec: null when the file is neither encrypted nor encoded, 3031 for a wrong
// or missing password.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "jet/page_source.h"

namespace jet {

// plainHeaderPage: page 0 with its RC4 mask removed; versionByte: the byte at 0x14.
std::unique_ptr<PageCodec> makePageCodecForVersion(std::span<const std::uint8_t> plainHeaderPage,
                                                   std::uint8_t versionByte, const std::string& password,
                                                   const std::string& fileName);

} // namespace jet
