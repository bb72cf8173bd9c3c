#include "jet/text.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <unordered_map>

namespace jet {

namespace {

// Writes `cp` as UTF-8 at `p`; returns the end.
char* putUtf8(char* p, std::uint32_t cp) {
    if (cp < 0x80) {
        *p++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *p++ = static_cast<char>(0xC0 | (cp >> 6));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (cp >> 12));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *p++ = static_cast<char>(0xF0 | (cp >> 18));
        *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return p;
}

// Text is decoded straight into `out`: room for the longest result first, cut to what was written after.
char* makeRoom(std::string& out, std::size_t most) {
    const std::size_t at = out.size();
    out.resize(at + most);
    return out.data() + at;
}
void cutAt(std::string& out, const char* end) { out.resize(static_cast<std::size_t>(end - out.data())); }

// UTF-16LE units to UTF-8 at `p` (at most 3 bytes per unit, 3 more for a dangling byte); returns the end.
char* putUtf16le(char* p, const std::uint8_t* data, std::size_t size) {
    const std::size_t units = size / 2;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = static_cast<std::uint32_t>(data[2 * i]) | (static_cast<std::uint32_t>(data[2 * i + 1]) << 8);
        if (u < 0x80) {
            *p++ = static_cast<char>(u);
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            std::uint32_t lo =
                static_cast<std::uint32_t>(data[2 * i + 2]) | (static_cast<std::uint32_t>(data[2 * i + 3]) << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                p = putUtf8(p, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        p = putUtf8(p, u); // BMP character or an unpaired surrogate (kept as WTF-8)
    }
    if (size & 1) p = putUtf8(p, 0xFFFD); // a dangling byte: Java's decoder gives U+FFFD too
    return p;
}

} // namespace

void appendUtf8(std::string& out, std::uint32_t cp) {
    char buf[4];
    out.append(buf, putUtf8(buf, cp));
}

void utf16leToUtf8(const std::uint8_t* data, std::size_t size, std::string& out) {
    char* p = makeRoom(out, size / 2 * 3 + 3);
    cutAt(out, putUtf16le(p, data, size));
}

void decompressUnicode(const std::uint8_t* data, std::size_t size, std::string& out) {
    // Segments separated by 0x00 bytes, starting in compressed mode (one byte per
    // character U+0000-U+00FF); each 0x00 toggles to UCS-2LE and back. The scan for
    // 0x00 is byte-wise in both modes, as Access's readers (and Jackcess) do it.
    // Every input byte gives at most two bytes of UTF-8 (a UCS-2 unit of two bytes at most three).
    char* p = makeRoom(out, 2 * size + 3);
    bool compressed = true;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            if (compressed) {
                for (std::size_t k = start; k < i; ++k) {
                    std::uint8_t b = data[k];
                    if (b < 0x80) *p++ = static_cast<char>(b);
                    else p = putUtf8(p, b);
                }
            } else {
                p = putUtf16le(p, data + start, i - start);
            }
            compressed = !compressed;
            start = i + 1;
        }
    }
    cutAt(out, p);
}

namespace {

const std::uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void cp1252ToUtf8(const std::uint8_t* data, std::size_t size, std::string& out) {
    out.reserve(out.size() + size);
    for (std::size_t i = 0; i < size; ++i) {
        std::uint8_t b = data[i];
        if (b < 0x80) out += static_cast<char>(b);
        else if (b < 0xA0) appendUtf8(out, kCp1252High[b - 0x80]);
        else appendUtf8(out, b);
    }
}

// iconv descriptors per code page, created on first use (iconv_t is not thread-safe:
// guarded by a mutex).
struct IconvCache {
    std::unordered_map<std::uint16_t, iconv_t> map;
    ~IconvCache() {
        for (auto& [cp, cd] : map)
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};
std::mutex gIconvMutex;
IconvCache gIconvCache;
auto& gIconv = gIconvCache.map;

bool iconvToUtf8(std::uint16_t codePage, const std::uint8_t* data, std::size_t size, std::string& out) {
    std::lock_guard<std::mutex> lock(gIconvMutex);
    auto it = gIconv.find(codePage);
    if (it == gIconv.end()) {
        std::string name = "CP" + std::to_string(codePage);
        iconv_t cd = iconv_open("UTF-8", name.c_str());
        it = gIconv.emplace(codePage, cd).first;
    }
    iconv_t cd = it->second;
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string buf(size * 4 + 16, '\0');
    char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(data));
    std::size_t inLeft = size;
    char* outp = buf.data();
    std::size_t outLeft = buf.size();
    while (inLeft > 0) {
        std::size_t r = iconv(cd, &in, &inLeft, &outp, &outLeft);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == EILSEQ || errno == EINVAL) {
                // undecodable byte: U+FFFD, go on with the next byte
                if (outLeft < 3) break;
                *outp++ = static_cast<char>(0xEF);
                *outp++ = static_cast<char>(0xBF);
                *outp++ = static_cast<char>(0xBD);
                outLeft -= 3;
                ++in;
                --inLeft;
                continue;
            }
            break;
        }
    }
    out.append(buf.data(), static_cast<std::size_t>(outp - buf.data()));
    return true;
}

} // namespace

void codePageToUtf8(std::uint16_t codePage, const std::uint8_t* data, std::size_t size, std::string& out) {
    if (codePage == 0 || codePage == 1252 || !iconvToUtf8(codePage, data, size, out)) cp1252ToUtf8(data, size, out);
}

void TextDecoder::decode(const std::uint8_t* data, std::size_t size, std::string& out) const {
    if (!unicode) {
        codePageToUtf8(codePage, data, size, out);
        return;
    }
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        decompressUnicode(data + 2, size - 2, out);
        return;
    }
    utf16leToUtf8(data, size, out);
}

} // namespace jet
