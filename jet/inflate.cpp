#include "jet/inflate.h"

#include <cstring>

namespace jet {

namespace {

struct BitReader {
    const std::uint8_t* p;
    std::size_t size;
    std::size_t pos = 0;
    std::uint32_t bitBuf = 0;
    int bitCount = 0;
    bool overrun = false;

    int bit() {
        if (bitCount == 0) {
            if (pos >= size) {
                overrun = true;
                return 0;
            }
            bitBuf = p[pos++];
            bitCount = 8;
        }
        int b = static_cast<int>(bitBuf & 1);
        bitBuf >>= 1;
        --bitCount;
        return b;
    }
    std::uint32_t bits(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(bit()) << i;
        return v;
    }
    void alignByte() {
        bitCount = 0;
        bitBuf = 0;
    }
};

// Canonical Huffman table (puff-style: counts per length and symbols sorted by code).
struct Huffman {
    short count[16];
    short symbol[288];
};

// Returns 0 on success; non-zero for an over-subscribed or incomplete set (incomplete allowed if `allowIncomplete`).
int build(Huffman& h, const short* lengths, int n) {
    std::memset(h.count, 0, sizeof h.count);
    for (int s = 0; s < n; ++s) h.count[lengths[s]]++;
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int len = 1; len < 16; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return -1;
    }
    short offs[16];
    offs[1] = 0;
    for (int len = 1; len < 15; ++len) offs[len + 1] = static_cast<short>(offs[len] + h.count[len]);
    for (int s = 0; s < n; ++s)
        if (lengths[s] != 0) h.symbol[offs[lengths[s]]++] = static_cast<short>(s);
    return left;
}

int decodeSym(BitReader& br, const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
        code |= br.bit();
        int count = h.count[len];
        if (code - count < first) return h.symbol[index + (code - first)];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
        if (br.overrun) return -1;
    }
    return -1;
}

const short kLenBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const short kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const short kDistBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const short kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

bool codes(BitReader& br, std::vector<std::uint8_t>& out, std::size_t maxOut, const Huffman& lit, const Huffman& dist,
           std::string& err) {
    for (;;) {
        int sym = decodeSym(br, lit);
        if (sym < 0 || br.overrun) {
            err = "bad literal/length code or data ends early";
            return false;
        }
        if (sym < 256) {
            if (out.size() >= maxOut) {
                err = "output larger than expected";
                return false;
            }
            out.push_back(static_cast<std::uint8_t>(sym));
        } else if (sym == 256) {
            return true;
        } else {
            sym -= 257;
            if (sym >= 29) {
                err = "bad length symbol";
                return false;
            }
            std::size_t len = static_cast<std::size_t>(kLenBase[sym]) + br.bits(kLenExtra[sym]);
            int ds = decodeSym(br, dist);
            if (ds < 0 || ds >= 30 || br.overrun) {
                err = "bad distance code";
                return false;
            }
            std::size_t d = static_cast<std::size_t>(kDistBase[ds]) + br.bits(kDistExtra[ds]);
            if (d > out.size()) {
                err = "distance too far back";
                return false;
            }
            if (out.size() + len > maxOut) {
                err = "output larger than expected";
                return false;
            }
            std::size_t from = out.size() - d;
            for (std::size_t k = 0; k < len; ++k) out.push_back(out[from + k]);
        }
    }
}

} // namespace

bool rawInflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out, std::size_t maxOut,
                std::string* error) {
    std::string err;
    BitReader br{data, size};
    out.clear();
    int last = 0;
    do {
        last = br.bit();
        int type = static_cast<int>(br.bits(2));
        if (br.overrun) {
            err = "data ends early";
            break;
        }
        if (type == 0) {
            br.alignByte();
            if (br.pos + 4 > size) {
                err = "stored block header cut off";
                break;
            }
            std::size_t len = data[br.pos] | (data[br.pos + 1] << 8);
            std::size_t nlen = data[br.pos + 2] | (data[br.pos + 3] << 8);
            br.pos += 4;
            if (len != (~nlen & 0xFFFF)) {
                err = "stored block length check failed";
                break;
            }
            if (br.pos + len > size || out.size() + len > maxOut) {
                err = "stored block too long";
                break;
            }
            out.insert(out.end(), data + br.pos, data + br.pos + len);
            br.pos += len;
        } else if (type == 1) {
            static Huffman lit, dist;
            static bool ready = false;
            if (!ready) {
                short l[288];
                int s = 0;
                for (; s < 144; ++s) l[s] = 8;
                for (; s < 256; ++s) l[s] = 9;
                for (; s < 280; ++s) l[s] = 7;
                for (; s < 288; ++s) l[s] = 8;
                build(lit, l, 288);
                short d[30];
                for (int k = 0; k < 30; ++k) d[k] = 5;
                build(dist, d, 30);
                ready = true;
            }
            if (!codes(br, out, maxOut, lit, dist, err)) break;
        } else if (type == 2) {
            int nlen = static_cast<int>(br.bits(5)) + 257;
            int ndist = static_cast<int>(br.bits(5)) + 1;
            int ncode = static_cast<int>(br.bits(4)) + 4;
            if (nlen > 286 || ndist > 30) {
                err = "bad dynamic block counts";
                break;
            }
            static const short order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
            short lengths[320] = {};
            for (int k = 0; k < ncode; ++k) lengths[order[k]] = static_cast<short>(br.bits(3));
            Huffman lencode;
            if (build(lencode, lengths, 19) != 0) {
                err = "bad code-length code";
                break;
            }
            int idx = 0;
            bool bad = false;
            while (idx < nlen + ndist) {
                int sym = decodeSym(br, lencode);
                if (sym < 0 || br.overrun) {
                    bad = true;
                    break;
                }
                if (sym < 16) {
                    lengths[idx++] = static_cast<short>(sym);
                } else {
                    short len = 0;
                    int rep;
                    if (sym == 16) {
                        if (idx == 0) {
                            bad = true;
                            break;
                        }
                        len = lengths[idx - 1];
                        rep = 3 + static_cast<int>(br.bits(2));
                    } else if (sym == 17) {
                        rep = 3 + static_cast<int>(br.bits(3));
                    } else {
                        rep = 11 + static_cast<int>(br.bits(7));
                    }
                    if (idx + rep > nlen + ndist) {
                        bad = true;
                        break;
                    }
                    while (rep--) lengths[idx++] = len;
                }
            }
            if (bad || lengths[256] == 0) {
                err = "bad dynamic code lengths";
                break;
            }
            Huffman lit, dist;
            int e1 = build(lit, lengths, nlen);
            if (e1 < 0 || (e1 > 0 && nlen - lit.count[0] != 1)) {
                err = "bad literal/length code";
                break;
            }
            int e2 = build(dist, lengths + nlen, ndist);
            if (e2 < 0 || (e2 > 0 && ndist - dist.count[0] != 1)) {
                err = "bad distance code set";
                break;
            }
            if (!codes(br, out, maxOut, lit, dist, err)) break;
        } else {
            err = "invalid block type";
            break;
        }
    } while (!last);
    if (!err.empty()) {
        if (error) *error = err;
        return false;
    }
    return true;
}

bool zlibInflate(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out, std::size_t maxOut,
                 std::string* error) {
    if (size < 2) {
        if (error) *error = "zlib header cut off";
        return false;
    }
    std::uint8_t cmf = data[0], flg = data[1];
    if ((cmf & 0x0F) != 8 || ((cmf << 8) | flg) % 31 != 0 || (flg & 0x20)) {
        // Not a zlib wrapper: try raw deflate.
        return rawInflate(data, size, out, maxOut, error);
    }
    return rawInflate(data + 2, size - 2, out, maxOut, error);
}

} // namespace jet
