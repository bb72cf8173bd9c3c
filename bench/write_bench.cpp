// Insert speed of the writer: one INSERT statement per row through a Session, rows of 10 mixed columns, into a
// copy of an empty Jet 4 database — the way the PostgreSQL-to-Access transfer sends them (every value a quoted
// text literal). Prints rows per second for growing row counts, so that linearity shows.
//
//   write_bench [--related] [rows...]          default: 25000 50000 100000 200000
//
// --related: `small` and `name` are foreign keys of two relationships with integrity (parent tables of 32000
// and 9973 rows, keyed by SMALLINT and text): every row costs two parent lookups and two more index entries.
#include "jet/error.h"
#include "jet/statement.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifndef QM_SHARED_DIR
#define QM_SHARED_DIR "../shared"
#endif

namespace fs = std::filesystem;

static std::string row(long i)
{
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "INSERT INTO `bench` VALUES('%ld', 'customer %ld', '%ld.%02ld', '2024-%02ld-%02ld %02ld:%02ld:00', "
                  "'%s', '%ld', '%.6f', 'note about row %ld with some words', '%ld.%04ld', %s)",
                  i, i % 9973, i / 100, i % 100, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 2 ? "True" : "False",
                  i % 32000, i * 0.37, i, i % 100000, i % 10000, i % 7 ? "'x'" : "NULL");
    return buf;
}

int main(int argc, char** argv)
{
    std::vector<long> counts;
    bool related = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--related")
            related = true;
        else
            counts.push_back(std::atol(argv[i]));
    }
    if (counts.empty())
        counts = {25000, 50000, 100000, 200000};
    const fs::path templ = fs::path(QM_SHARED_DIR) / "fixtures/access/files/jackcess/templates/empty2003.mdb";
    const fs::path dir = fs::temp_directory_path() / "qm-write-bench";
    fs::create_directories(dir);
    // Wall time depends on what else the machine runs; CPU time (user + system of this process) does not.
    std::printf("%10s %10s %12s %10s %12s %10s\n", "rows", "wall s", "rows/s", "cpu s", "rows/cpu-s", "MB");
    for (long n : counts) {
        const fs::path file = dir / ("bench" + std::to_string(n) + ".mdb");
        fs::copy_file(templ, file, fs::copy_options::overwrite_existing);
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
        try {
            auto s = jet::Session::open(file.string());
            s->execute("CREATE TABLE `bench`(`id` INT,`name` VARCHAR,`amount` DECIMAL(12,2),`at` DATETIME,`flag` BIT,"
                       "`small` SMALLINT,`ratio` FLOAT,`note` VARCHAR,`price` CURRENCY,`tag` TEXT(10));");
            if (related) {
                s->execute("CREATE TABLE `smalls`(`id` SMALLINT PRIMARY KEY)");
                s->execute("CREATE TABLE `customers`(`name` VARCHAR PRIMARY KEY)");
                for (long i = 0; i < 32000; ++i)
                    s->execute("INSERT INTO `smalls` VALUES(" + std::to_string(i) + ")");
                for (long i = 0; i < 9973; ++i)
                    s->execute("INSERT INTO `customers` VALUES('customer " + std::to_string(i) + "')");
                s->execute("ALTER TABLE `bench` ADD CONSTRAINT `r1` FOREIGN KEY (`small`) REFERENCES `smalls` (`id`)");
                s->execute("ALTER TABLE `bench` ADD CONSTRAINT `r2` FOREIGN KEY (`name`) REFERENCES `customers` (`name`)");
            }
            // The statements are built first: what is timed is the engine, from SQL text to bytes in the file.
            std::vector<std::string> statements;
            statements.reserve(static_cast<std::size_t>(n));
            for (long i = 0; i < n; ++i)
                statements.push_back(row(i));
            const auto t0 = std::chrono::steady_clock::now();
            const std::clock_t c0 = std::clock();
            for (const std::string& st : statements)
                s->execute(st);
            s->close();
            const double sec = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
            std::printf("%10ld %10.3f %12.0f %10.3f %12.0f %10.1f\n", n, sec, n / sec, cpu, n / cpu,
                        fs::file_size(file) / 1048576.0);
        } catch (const jet::Error& e) {
            std::fprintf(stderr, "error %d: %s\n", e.number(), e.what());
            return 1;
        }
        fs::remove(file);
    }
    return 0;
}
