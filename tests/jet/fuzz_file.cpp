// libFuzzer target over whole databases: a real Access file (JET_FUZZ_BASE, default a
// small fixture) is patched with the input -- a list of (page, offset, bytes) edits --
// then opened and dumped completely. Every failure must be a jet::Error.
//
// Build: cmake -DQUILLMERE_FUZZ=ON with clang (see scripts/fuzz.sh).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"

namespace {

std::vector<std::uint8_t> loadBase() {
    const char* env = std::getenv("JET_FUZZ_BASE");
    std::string path = env ? env : std::string(QM_ACCESS_FIXTURES) + "/files/jackcess/V2007/complexDataTestV2007.accdb";
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> base = loadBase();
    if (base.size() < 4096 * 3) return 0;
    const std::size_t ps = base[0x14] == 0 ? 2048 : 4096;
    const std::size_t pages = base.size() / ps;
    std::vector<std::uint8_t> bytes = base;
    // edits: u16 page, u16 offset, u8 length, bytes
    std::size_t i = 0;
    while (i + 5 <= size) {
        std::size_t page = (data[i] | (data[i + 1] << 8)) % pages;
        std::size_t off = (data[i + 2] | (data[i + 3] << 8)) % ps;
        std::size_t len = data[i + 4] % 16;
        i += 5;
        for (std::size_t k = 0; k < len && i < size; ++k, ++i) {
            std::size_t pos = page * ps + off + k;
            if (pos < bytes.size()) bytes[pos] = data[i];
        }
    }
    if (size & 1) bytes.resize(bytes.size() - (data[0] % 8) * ps / 2); // sometimes truncate
    try {
        auto db = jet::Database::openBytes(std::move(bytes), "fuzz.accdb");
        std::ostringstream out;
        jet::dump(*db, out);
        for (const auto& e : db->catalog()) {
            if (e.type != 1) continue;
            try {
                auto t = db->openTable(e.name);
                t->countRows();
            } catch (const jet::Error&) {
            }
        }
    } catch (const jet::Error&) {
    }
    return 0;
}
