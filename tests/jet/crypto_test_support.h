#pragma once
// Helpers shared by the encryption tests and the benchmark: fixture paths, temporary
// folders, and making an encrypted twin of a plain .accdb.

#include "jet/codec.h"
#include "jet/codec_primitives.h"
#include "jet/format.h"

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef QM_SHARED_DIR
#error "QM_SHARED_DIR must name the shared folder (fixtures/, tools/)"
#endif

namespace qm_crypto_test {

inline std::string fixturePath(const std::string& rel) {
    return std::string(QM_SHARED_DIR) + "/fixtures/access/files/" + rel;
}
inline std::string expectedPath(const std::string& rel) {
    return std::string(QM_SHARED_DIR) + "/fixtures/access/expected/" + rel + ".json";
}

// "jackcess-encrypt/db2013-enc.accdb" -> "db2013_enc_accdb"
inline std::string testName(const std::string& rel) {
    std::string s = rel.substr(rel.find_last_of('/') + 1);
    for (auto& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return s;
}

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(f), {}};
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

// A folder under the system temp folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        for (int i = 0; i < 100; ++i) {
            auto p = std::filesystem::temp_directory_path() / ("qm-crypt-" + std::to_string(rd()));
            if (std::filesystem::create_directory(p)) {
                dir_ = p;
                return;
            }
        }
        throw std::runtime_error("cannot make a temporary folder");
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

inline jet::Format formatOfVersion(std::uint8_t v) {
    static const jet::Format formats[] = {jet::Format::Jet3,  jet::Format::Jet4,  jet::Format::Ace12,
                                          jet::Format::Ace14, jet::Format::Ace15, jet::Format::Ace16,
                                          jet::Format::Ace17};
    return formats[v < 7 ? v : 6];
}

// Removes or applies page 0's RC4 mask in place (4 KiB pages).
inline void toggleAceHeaderMask(std::uint8_t* page0) {
    std::vector<std::uint8_t> mask(128, 0);
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::crypto::rc4(key, mask);
    for (std::size_t i = 0; i < 128; ++i) page0[0x18 + i] ^= mask[i];
}

// Page 0 of an ACE file with the mask removed.
inline std::vector<std::uint8_t> plainHeader(const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> h(file.begin(), file.begin() + 4096);
    toggleAceHeaderMask(h.data());
    return h;
}

// The plain ACE file `plain` encrypted exactly as the encrypted ACE file `model` is:
// its encoding key and descriptor go onto page 0, every other page is encoded with
// the model's keys (which the password opens).
inline std::vector<std::uint8_t> encryptLike(std::vector<std::uint8_t> plain, const std::vector<std::uint8_t>& model,
                                             const std::string& password) {
    auto modelHeader = plainHeader(model);
    auto codec = jet::makePageCodec(modelHeader, formatOfVersion(model[0x14]), password);
    if (!codec) throw std::runtime_error("the model file is not encrypted");
    toggleAceHeaderMask(plain.data());
    std::copy(modelHeader.begin() + 0x3E, modelHeader.begin() + 0x42, plain.begin() + 0x3E);
    const std::size_t len = jet::readU16(modelHeader.data() + 0x299);
    std::copy(modelHeader.begin() + 0x299, modelHeader.begin() + 0x299 + 2 + static_cast<std::ptrdiff_t>(len),
              plain.begin() + 0x299);
    toggleAceHeaderMask(plain.data());
    for (std::size_t n = 1; n < plain.size() / 4096; ++n)
        codec->encode(static_cast<std::uint32_t>(n), plain.data() + n * 4096, 4096);
    return plain;
}

} // namespace qm_crypto_test
