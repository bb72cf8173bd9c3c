// How much encryption costs when reading: the same database read plain and encrypted
// (agile AES-256/SHA-512, agile AES-128/SHA-1, RC4 CryptoAPI), open + dump of every
// table, best CPU time of several interleaved runs; raw page decoding speed per codec;
// and the one-off key setup (the agile spin count) that every open pays, whatever the
// size of the file.
//
//   crypto_bench [--rows N] [--runs K] [--file plain.accdb] [--check]
//
// Without --file a plain database is made in a temporary folder: a copy of a fixture
// with one table of N rows (default 100000, about 25 MiB: text, memo, numbers, dates)
// written by our writer. The encrypted twins carry the descriptor and keys of the
// encrypted fixtures. --check exits 1 when reading any encrypted twin takes more than
// 1.5 times the plain one (total, key setup included).

#include "crypto_test_support.h"

#include "jet/codec.h"
#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"
#include "jet/writer.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace qm_crypto_test;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// CPU time of the process (single-threaded here): the machine is shared, so wall time
// mostly measures the neighbours. std::clock is precise to the microsecond on glibc.
double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Null output: the dump's text is produced but not kept.
class NullBuffer : public std::streambuf {
protected:
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    int overflow(int c) override { return c == EOF ? 0 : c; }
};

struct ReadResult {
    double best = 1e9;
    std::uint64_t rows = 0;
};

// One open + full dump; keeps the best CPU time seen so far.
void timeRead(const std::string& path, const std::string& password, ReadResult& r) {
    NullBuffer nb;
    std::ostream out(&nb);
    const double t0 = cpuSeconds();
    auto db = jet::Database::open(path, {.password = password});
    auto res = jet::dump(*db, out);
    r.best = std::min(r.best, cpuSeconds() - t0);
    r.rows = res.rowsWritten;
}

std::string makePlainDatabase(const TempDir& dir, int rows) {
    const std::string path = dir.path("plain.accdb");
    writeBytes(path, readBytes(fixturePath("mdb-reader/V2010/test.accdb")));
    auto w = jet::Writer::open(path);
    w->execute("CREATE TABLE Bench (ID LONG, Name TEXT(100), Notes MEMO, Amount DOUBLE, Stamp DATETIME)");
    for (int i = 0; i < rows; ++i) {
        std::string notes(static_cast<std::size_t>(40 + i % 300), static_cast<char>('a' + i % 26));
        char sql[1024];
        std::snprintf(sql, sizeof sql, "INSERT INTO Bench VALUES (%d, 'Name number %d', '%s', %d.25, %d.5)", i, i,
                      notes.c_str(), i * 3, 40000 + i % 5000);
        w->execute(sql);
    }
    w->close();
    return path;
}

} // namespace

int main(int argc, char** argv) {
    int rows = 100000, runs = 5;
    bool check = false;
    std::string plainPath;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--rows" && i + 1 < argc) rows = std::stoi(argv[++i]);
        else if (a == "--runs" && i + 1 < argc) runs = std::stoi(argv[++i]);
        else if (a == "--file" && i + 1 < argc) plainPath = argv[++i];
        else if (a == "--check") check = true;
        else {
            std::cerr << "usage: crypto_bench [--rows N] [--runs K] [--file plain.accdb] [--check]\n";
            return 2;
        }
    }
    try {
        TempDir dir;
        if (plainPath.empty()) {
            auto t0 = Clock::now();
            plainPath = makePlainDatabase(dir, rows);
            std::printf("made %s with %d rows in %.2f s\n", plainPath.c_str(), rows, seconds(t0, Clock::now()));
        }
        const auto plain = readBytes(plainPath);
        std::printf("file: %zu pages of 4096 bytes (%.1f MiB)\n", plain.size() / 4096, plain.size() / 1048576.0);

        struct Model {
            const char* label;
            const char* file;
            const char* password;
        } models[] = {
            {"agile AES-256/SHA-512", "jackcess-encrypt/db2013-enc.accdb", "1234"},
            {"agile AES-128/SHA-1", "jackcess-encrypt/db2007-enc.accdb", "Test123"},
            {"RC4 CryptoAPI 128", "mdb-reader/encryption/office-agile-4.2.accdb", "password"},
        };

        struct Twin {
            const Model* model;
            std::string path;
            double decodeMiBs = 0;
            double setup = 1e9; // building the codec: the key derivation, paid once per open
            ReadResult read;
        };
        std::vector<Twin> twins;
        for (const auto& m : models) {
            const auto model = readBytes(fixturePath(m.file));
            const auto enc = encryptLike(plain, model, m.password);
            Twin t;
            t.model = &m;
            t.path = dir.path(std::string("enc-") + testName(m.file) + ".accdb");
            writeBytes(t.path, enc);
            // Raw decoding speed: every page once, per run.
            std::unique_ptr<jet::PageCodec> codec;
            for (int r = 0; r < runs; ++r) {
                const double s0 = cpuSeconds();
                codec = jet::makePageCodec(plainHeader(enc), formatOfVersion(enc[0x14]), m.password);
                t.setup = std::min(t.setup, cpuSeconds() - s0);
            }
            std::vector<std::uint8_t> page(4096);
            // Whole passes over the file until at least 0.2 s of CPU time has gone by.
            int passes = 0;
            const double t0 = cpuSeconds();
            double spent = 0;
            do {
                for (std::size_t n = 1; n < enc.size() / 4096; ++n) {
                    std::memcpy(page.data(), enc.data() + n * 4096, 4096);
                    codec->decode(static_cast<std::uint32_t>(n), page.data(), page.size());
                }
                ++passes;
                spent = cpuSeconds() - t0;
            } while (spent < 0.2);
            t.decodeMiBs = static_cast<double>(passes) * static_cast<double>(enc.size() - 4096) / 1048576.0 / spent;
            twins.push_back(std::move(t));
        }

        // Plain and encrypted reads interleaved, best of `runs` each.
        ReadResult base;
        for (int r = 0; r < runs; ++r) {
            timeRead(plainPath, "", base);
            for (auto& t : twins) timeRead(t.path, t.model->password, t.read);
        }

        std::printf("\n%-24s %12s %10s %8s %14s %13s %16s\n", "read (open + dump)", "CPU seconds", "rows", "ratio",
                    "decode MiB/s", "key setup ms", "ratio w/o setup");
        std::printf("%-24s %12.4f %10llu %8s %14s %13s %16s\n", "plain", base.best,
                    static_cast<unsigned long long>(base.rows), "1.00", "-", "-", "1.00");
        bool ok = true;
        for (const auto& t : twins) {
            const double ratio = t.read.best / base.best;
            if (t.read.rows != base.rows) {
                std::printf("%s: %llu rows read, plain file has %llu\n", t.model->label,
                            static_cast<unsigned long long>(t.read.rows), static_cast<unsigned long long>(base.rows));
                ok = false;
            }
            if (ratio > 1.5) ok = false;
            std::printf("%-24s %12.4f %10llu %8.2f %14.0f %13.1f %16.2f\n", t.model->label, t.read.best,
                        static_cast<unsigned long long>(t.read.rows), ratio, t.decodeMiBs, t.setup * 1000,
                        (t.read.best - t.setup) / base.best);
        }
        if (check && !ok) {
            std::printf("FAILED: an encrypted read is more than 1.5 times slower than the plain one\n");
            return 1;
        }
        return 0;
    } catch (const jet::Error& e) {
        std::fprintf(stderr, "error %d: %s\n", e.number(), e.what());
        return 1;
    }
}
