// Bad input never crashes and never hangs: truncated files, files that are not Access
// databases, page pointers out of range, long-value chains that loop, corrupt rows and
// randomly garbled pages end in a jet::Error with a number and a description (or, where
// the damage misses everything the reader needs, in a normal read).

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"
#include "jet/page_source.h"
#include "jet/row.h"
#include "jet/usage_map.h"

namespace {

namespace fs = std::filesystem;
const std::string kFiles = std::string(QM_ACCESS_FIXTURES) + "/files/";

std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

class TempDir {
public:
    TempDir() {
        dir_ = fs::temp_directory_path() / ("jet_corrupt_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
        fs::create_directories(dir_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        std::string p = (dir_ / name).string();
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

private:
    fs::path dir_;
    static inline int counter_ = 0;
};

struct Outcome {
    bool opened = false;
    int openError = 0;   // error number when open failed
    std::string message;
    jet::DumpResult dump;
};

// Opens and dumps everything; any exception other than jet::Error fails the test.
Outcome openAndDump(const std::string& path, const std::string& password = {}) {
    Outcome o;
    try {
        auto db = jet::Database::open(path, {.password = password});
        o.opened = true;
        std::ostringstream out;
        o.dump = jet::dump(*db, out);
        // Also walk every catalogue table through the cursor API.
        for (const auto& e : db->catalog()) {
            if (e.type != 1) continue;
            try {
                auto t = db->openTable(e.name);
                t->countRows();
                while (t->next())
                    for (std::size_t i = 0; i < t->columns().size(); ++i) {
                        try {
                            (void)t->value(i);
                        } catch (const jet::Error& err) {
                            EXPECT_GT(err.number(), 0);
                            EXPECT_FALSE(std::string(err.what()).empty());
                        }
                    }
            } catch (const jet::Error& err) {
                EXPECT_GT(err.number(), 0);
                EXPECT_FALSE(std::string(err.what()).empty());
            }
        }
    } catch (const jet::Error& e) {
        o.openError = e.number();
        o.message = e.what();
        EXPECT_FALSE(o.message.empty());
    } catch (const std::exception& e) {
        ADD_FAILURE() << path << ": not a jet::Error: " << e.what();
    }
    return o;
}

bool isKnownError(int n) { return n == 3049 || n == 3343 || n == 3031 || n == 3251; }

std::uint32_t tdefPageOf(const std::string& path, const std::string& table) {
    auto db = jet::Database::open(path);
    const jet::CatalogEntry* e = db->findObject(table);
    return e ? e->tdefPage : 0;
}

TEST(Corrupt, MissingFileAndBadPath) {
    try {
        jet::Database::open("/tmp/definitely/not/here/x.mdb");
        FAIL();
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3044);
    }
    TempDir d;
    try {
        jet::Database::open(d.path("missing.accdb"));
        FAIL();
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3024);
        EXPECT_EQ(std::string(e.what()), "Could not find file '" + d.path("missing.accdb") + "'.");
    }
}

TEST(Corrupt, NotAnAccessFile) {
    TempDir d;
    std::vector<std::vector<std::uint8_t>> samples;
    samples.push_back({});
    samples.push_back({'h', 'e', 'l', 'l', 'o', '\n'});
    samples.push_back(std::vector<std::uint8_t>(8192, 0));
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    png.resize(4096 * 3, 0x42);
    samples.push_back(png);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        auto p = d.write("x" + std::to_string(i) + ".mdb", samples[i]);
        Outcome o = openAndDump(p);
        EXPECT_FALSE(o.opened);
        EXPECT_EQ(o.openError, 3343) << o.message;
        EXPECT_NE(o.message.find(p), std::string::npos) << o.message;
    }
}

TEST(Corrupt, TruncatedFiles) {
    TempDir d;
    for (const char* f : {"mdb-reader/V1997/test.mdb", "mdb-reader/V2003/test.mdb", "jackcess/V2007/complexDataTestV2007.accdb",
                          "mdb-reader/V2016/longtext.accdb"}) {
        auto bytes = readBytes(kFiles + f);
        const std::size_t ps = bytes[0x14] == 0 ? 2048 : 4096;
        std::vector<std::size_t> cuts = {1, 20, 100, 0x15, ps - 1, ps, ps + 100, 2 * ps, 3 * ps - 1, 3 * ps,
                                         bytes.size() / 4, bytes.size() / 2, bytes.size() - ps, bytes.size() - 1};
        for (std::size_t c = 5 * ps; c < bytes.size(); c += 7 * ps) cuts.push_back(c);
        for (std::size_t cut : cuts) {
            if (cut >= bytes.size()) continue;
            std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            auto p = d.write("t.bin", part);
            Outcome o = openAndDump(p);
            if (!o.opened) {
                EXPECT_TRUE(isKnownError(o.openError)) << f << " cut at " << cut << ": " << o.openError << " " << o.message;
            }
            if (cut < 3 * ps) {
                EXPECT_FALSE(o.opened) << f << " cut at " << cut;
            }
        }
    }
}

TEST(Corrupt, OwnedMapPointerOutOfRange) {
    const std::string src = kFiles + "mdb-reader/V2000/test.mdb";
    auto bytes = readBytes(src);
    std::uint32_t tdef = tdefPageOf(src, "Table1");
    ASSERT_GT(tdef, 2u);
    const std::size_t off = static_cast<std::size_t>(tdef) * 4096 + 0x37; // owned-pages map pointer
    std::uint32_t bad = 0x00FFFFF0u << 8;
    for (int i = 0; i < 4; ++i) bytes[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bad >> (8 * i));
    TempDir d;
    auto p = d.write("oob.mdb", bytes);
    auto db = jet::Database::open(p);
    auto t = db->openTable("Table1");
    try {
        t->next();
        FAIL() << "no error";
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3049);
        EXPECT_NE(std::string(e.what()).find("beyond the end of the file"), std::string::npos) << e.what();
    }
    std::ostringstream out;
    auto r = jet::dump(*db, out);
    EXPECT_EQ(r.tablesFailed, 1);
    EXPECT_NE(out.str().find("\"error\":\"3049 "), std::string::npos);
}

TEST(Corrupt, TableDefinitionLoop) {
    const std::string src = kFiles + "mdb-reader/V2000/test.mdb";
    auto bytes = readBytes(src);
    std::uint32_t tdef = tdefPageOf(src, "Table1");
    const std::size_t base = static_cast<std::size_t>(tdef) * 4096;
    // next TDEF page = itself, and a length that needs more pages
    for (int i = 0; i < 4; ++i) bytes[base + 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(tdef >> (8 * i));
    bytes[base + 8] = 0;
    bytes[base + 9] = 0;
    bytes[base + 10] = 1; // 65536
    TempDir d;
    auto p = d.write("loop.mdb", bytes);
    auto db = jet::Database::open(p);
    try {
        db->openTable("Table1");
        FAIL() << "no error";
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3049);
        EXPECT_NE(std::string(e.what()).find("loop"), std::string::npos) << e.what();
    }
}

TEST(Corrupt, LongValueChainCycle) {
    // longtext.accdb stores a 10000-byte memo as a chain of LVAL rows; point one link back at itself.
    const std::string src = kFiles + "mdb-reader/V2016/longtext.accdb";
    auto bytes = readBytes(src);
    const std::size_t ps = 4096;
    bool patched = false;
    for (std::size_t pg = 3; pg < bytes.size() / ps && !patched; ++pg) {
        const std::uint8_t* p = bytes.data() + pg * ps;
        if (p[0] != 1 || std::memcmp(p + 4, "LVAL", 4) != 0) continue;
        unsigned n = p[12] | (p[13] << 8);
        for (unsigned r = 0; r < n && !patched; ++r) {
            unsigned raw = p[14 + 2 * r] | (p[15 + 2 * r] << 8);
            if (raw & 0xC000) continue;
            std::size_t start = raw & 0x1FFF;
            std::uint32_t next = p[start] | (p[start + 1] << 8) | (p[start + 2] << 16) | (static_cast<std::uint32_t>(p[start + 3]) << 24);
            if (next == 0 || (next >> 8) >= bytes.size() / ps) continue;
            // Is `next` another LVAL row? Then this is a chain link: make it loop to itself.
            const std::uint8_t* q = bytes.data() + (next >> 8) * ps;
            if (q[0] != 1 || std::memcmp(q + 4, "LVAL", 4) != 0) continue;
            std::uint32_t self = static_cast<std::uint32_t>(pg << 8 | r);
            for (int i = 0; i < 4; ++i) bytes[pg * ps + start + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(self >> (8 * i));
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    TempDir d;
    auto p = d.write("cycle.accdb", bytes);
    auto db = jet::Database::open(p);
    std::ostringstream out;
    auto r = jet::dump(*db, out);
    EXPECT_GE(r.cellErrors, 1u);
    EXPECT_NE(out.str().find("{\"$error\":\"3049 "), std::string::npos);
    bool loopNamed = false;
    for (const auto& m : r.messages) loopNamed |= m.find("loops back") != std::string::npos;
    EXPECT_TRUE(loopNamed);
}

TEST(Corrupt, RowOffsetsOutsidePage) {
    const std::string src = kFiles + "mdb-reader/V2000/test.mdb";
    auto bytes = readBytes(src);
    std::uint32_t dataPage = 0;
    {
        auto db = jet::Database::open(src);
        auto t = db->openTable("Table1");
        ASSERT_TRUE(t->next());
        dataPage = t->position().page;
    }
    // slot 0 starts inside the page header
    bytes[dataPage * 4096 + 14] = 0x05;
    bytes[dataPage * 4096 + 15] = 0x00;
    TempDir d;
    auto p = d.write("row.mdb", bytes);
    auto db = jet::Database::open(p);
    auto t = db->openTable("Table1");
    try {
        while (t->next()) {
        }
        FAIL() << "no error";
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3049);
        EXPECT_NE(std::string(e.what()).find("Table1"), std::string::npos) << e.what();
    }
}

TEST(Corrupt, GarbledPagesNeverCrash) {
    std::mt19937 rng(12345);
    TempDir d;
    for (const char* f : {"mdb-reader/V1997/test.mdb", "mdb-reader/V2003/numeric.mdb", "jackcess/V2007/complexDataTestV2007.accdb",
                          "jackcess/V2010/calcFieldTestV2010.accdb", "mdb-reader/V2016/attachments.accdb"}) {
        const auto original = readBytes(kFiles + f);
        const std::size_t ps = original[0x14] == 0 ? 2048 : 4096;
        for (int iter = 0; iter < 40; ++iter) {
            auto bytes = original;
            int flips = 1 + static_cast<int>(rng() % 64);
            for (int k = 0; k < flips; ++k) {
                std::size_t pos = ps + rng() % (bytes.size() - ps); // keep the header readable
                bytes[pos] = static_cast<std::uint8_t>(rng());
            }
            auto p = d.write("g.bin", bytes);
            Outcome o = openAndDump(p);
            if (!o.opened) {
                EXPECT_TRUE(isKnownError(o.openError)) << f << ": " << o.openError << " " << o.message;
            }
        }
    }
}

TEST(Corrupt, FromMemoryPageSourceBounds) {
    auto src = jet::FilePageSource::fromMemory(std::vector<std::uint8_t>(4096 * 2, 0), "mem");
    src->setPageSize(4096);
    EXPECT_EQ(src->pageCount(), 2u);
    EXPECT_NO_THROW(src->page(1));
    try {
        src->page(2);
        FAIL();
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3049);
    }
}

} // namespace
