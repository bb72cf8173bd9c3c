// Encrypted databases through the whole reader: every encrypted fixture opens with its
// password and dumps exactly as the independent reader's dump says; wrong and missing
// passwords are 3031; plain fixtures re-encrypted with the keys of an encrypted file
// read back exactly as the plain file does.

#include "crypto_test_support.h"

#include "jet/codec.h"
#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace qm_crypto_test;

struct OpenCase {
    const char* file;
    const char* password;
};

const OpenCase kEncryptedFiles[] = {
    {"mdb-reader/password/V2010_with-password.accdb", "password"},
    {"mdb-reader/encryption/office-agile-4.4.accdb", "password"},
    {"mdb-reader/encryption/office-agile-4.2.accdb", "password"},
    {"jackcess-encrypt/db2007-enc.accdb", "Test123"},
    {"jackcess-encrypt/db2013-enc.accdb", "1234"},
    {"jackcess-encrypt/db-enc.mdb", ""},
};

std::string dumpJson(const std::string& path, const std::string& password) {
    auto db = jet::Database::open(path, {.password = password});
    std::ostringstream out;
    auto result = jet::dump(*db, out);
    EXPECT_EQ(result.tablesFailed, 0) << path;
    for (const auto& m : result.messages) ADD_FAILURE() << path << ": " << m;
    return out.str();
}

// compare_dumps.py EXPECTED ACTUAL: 0 when equal by the fixtures' rules.
int compareWithExpected(const std::string& rel, const std::string& actualJson) {
    TempDir dir;
    const std::string actual = dir.path("actual.json");
    std::ofstream(actual, std::ios::binary) << actualJson;
    const std::string cmd = "python3 '" + std::string(QM_SHARED_DIR) + "/tools/compare_dumps.py' '" + expectedPath(rel) +
                            "' '" + actual + "' > '" + dir.path("diff.txt") + "' 2>&1";
    int rc = std::system(cmd.c_str());
    if (rc != 0) {
        std::ifstream diff(dir.path("diff.txt"));
        std::string text((std::istreambuf_iterator<char>(diff)), {});
        ADD_FAILURE() << rel << " differs from the expected dump:\n" << text.substr(0, 2000);
    }
    return rc;
}

class EncryptedOpen : public testing::TestWithParam<OpenCase> {};

TEST_P(EncryptedOpen, DumpEqualsTheExpectedDump) {
    const auto& c = GetParam();
    std::string json = dumpJson(fixturePath(c.file), c.password);
    ASSERT_FALSE(json.empty());
    EXPECT_EQ(compareWithExpected(c.file, json), 0);
}

TEST_P(EncryptedOpen, OnlyTheRightPasswordOpens) {
    const auto& c = GetParam();
    if (std::string(c.password).empty()) {
        // Jet page encoding is not a password: any password reads the same.
        EXPECT_EQ(dumpJson(fixturePath(c.file), "whatever"), dumpJson(fixturePath(c.file), ""));
        return;
    }
    for (std::string wrong : {std::string(), std::string("wrong"), std::string(c.password) + "x"}) {
        try {
            jet::Database::open(fixturePath(c.file), {.password = wrong});
            ADD_FAILURE() << c.file << " opened with a wrong password";
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), jet::errc::NotValidPassword) << e.what();
            EXPECT_STREQ(e.what(), "Not a valid password.");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EncryptedOpen, testing::ValuesIn(kEncryptedFiles),
                         [](const testing::TestParamInfo<OpenCase>& info) { return testName(info.param.file); });

// Plain .accdb fixtures given the encryption of an encrypted one (its descriptor and
// encoding key on page 0, every other page encoded with its keys): they must read
// back exactly like the plain file, and refuse a wrong password.
TEST(EncryptedOpen, ReEncryptedPlainFilesReadLikeThePlainOnes) {
    const OpenCase templates[] = {
        {"jackcess-encrypt/db2013-enc.accdb", "1234"},                 // agile AES-256 / SHA-512
        {"jackcess-encrypt/db2007-enc.accdb", "Test123"},              // agile AES-128 / SHA-1
        {"mdb-reader/encryption/office-agile-4.2.accdb", "password"}, // RC4 CryptoAPI
    };
    const char* plainFiles[] = {
        "mdb-reader/V2010/test.accdb",
        "mdb-reader/V2016/longtext.accdb",
        "mdb-reader/V2016/attachments.accdb",
        "jackcess/V2007/complexDataTestV2007.accdb",
    };
    TempDir dir;
    for (const auto& t : templates) {
        for (const char* plain : plainFiles) {
            const std::string plainPath = fixturePath(plain);
            const std::string encPath = dir.path(testName(plain) + "_" + testName(t.file) + ".accdb");
            writeBytes(encPath, encryptLike(readBytes(plainPath), readBytes(fixturePath(t.file)), t.password));
            SCOPED_TRACE(std::string(plain) + " encrypted like " + t.file);
            EXPECT_EQ(dumpJson(encPath, t.password), dumpJson(plainPath, ""));
            EXPECT_EQ(compareWithExpected(plain, dumpJson(encPath, t.password)), 0);
            try {
                jet::Database::open(encPath, {.password = "not it"});
                ADD_FAILURE() << encPath << " opened with a wrong password";
            } catch (const jet::Error& e) {
                EXPECT_EQ(e.number(), jet::errc::NotValidPassword);
            }
        }
    }
}

// Plain Jet 3 (2 KiB pages, 126 masked header bytes) and Jet 4 fixtures given the Jet
// page encoding: an encoding key in the header and every page n >= 1 RC4-encoded with
// LE32(key XOR n). They must read exactly like the plain files, with any password.
TEST(EncryptedOpen, JetEncodedCopiesReadLikeThePlainFiles) {
    const char* plainFiles[] = {
        "jackcess/V1997/testV1997.mdb",
        "jackcess/V1997/overflowTestV1997.mdb",
        "mdb-reader/V2000/test.mdb",
        "jackcess/V2000/testV2000.mdb",
    };
    TempDir dir;
    for (const char* plain : plainFiles) {
        SCOPED_TRACE(plain);
        auto bytes = readBytes(fixturePath(plain));
        const bool jet3 = bytes[0x14] == 0;
        const std::size_t pageSize = jet3 ? 2048 : 4096;
        const std::uint32_t key = 0x5EC12E7Au;
        // Set the key inside the masked region: unmask, write, mask again.
        std::vector<std::uint8_t> mask(jet3 ? 126 : 128, 0);
        const std::uint8_t maskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
        jet::crypto::rc4(maskKey, mask);
        for (int i = 0; i < 4; ++i)
            bytes[0x3E + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>(key >> (8 * i)) ^ mask[0x3E - 0x18 + static_cast<std::size_t>(i)];
        for (std::size_t n = 1; n < bytes.size() / pageSize; ++n) {
            std::uint8_t pageKey[4];
            jet::writeU32(pageKey, key ^ static_cast<std::uint32_t>(n));
            jet::crypto::rc4(pageKey, std::span<std::uint8_t>(bytes.data() + n * pageSize, pageSize));
        }
        const std::string path = dir.path(testName(plain) + ".mdb");
        writeBytes(path, bytes);
        EXPECT_EQ(dumpJson(path, ""), dumpJson(fixturePath(plain), ""));
        EXPECT_EQ(compareWithExpected(plain, dumpJson(path, "any")), 0);
    }
}

} // namespace
