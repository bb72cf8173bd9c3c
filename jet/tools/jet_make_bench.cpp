// jet-make-bench: writes a benchmark table into a copy of an Access file with the jet
// writer: `Bench` with 10 mixed columns and N rows (default 200000).
//
//   jet-make-bench TEMPLATE OUT [ROWS]
//
// TEMPLATE is an existing (e.g. empty) .mdb/.accdb; OUT is overwritten.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "jet/error.h"
#include "jet/writer.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: jet-make-bench TEMPLATE OUT [ROWS]\n");
        return 1;
    }
    const long rows = argc > 3 ? std::atol(argv[3]) : 200000;
    try {
        std::filesystem::copy_file(argv[1], argv[2], std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(argv[2], std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        auto w = jet::Writer::open(argv[2]);
        w->execute("CREATE TABLE `Bench`(`ID` INT, `Name` VARCHAR(50), `Qty` SMALLINT, `Price` CURRENCY, "
                   "`Ratio` FLOAT, `Created` DATETIME, `Flag` BIT, `Code` BYTE, `Amount` DECIMAL(18,4), "
                   "`Note` MEMO)");
        char sql[512];
        for (long i = 1; i <= rows; ++i) {
            const char* flag = (i % 3) ? "TRUE" : "FALSE";
            std::snprintf(sql, sizeof sql,
                          "INSERT INTO `Bench` VALUES(%ld, 'Customer %ld, \"quoted\"', %ld, %ld.%02ld, %ld.%ld, "
                          "'%04ld-%02ld-%02ld %02ld:%02ld:%02ld', %s, %ld, %ld.%04ld, %s)",
                          i, i, i % 30000, i % 100000, i % 100, i / 7, i % 1000, 1990 + i % 30, 1 + i % 12,
                          1 + i % 28, i % 24, i % 60, (i * 7) % 60, flag, i % 256, i * 3, i % 10000,
                          (i % 5) ? "'a short note'" : "NULL");
            w->execute(sql);
            if (i % 50000 == 0) std::fprintf(stderr, "%ld rows\n", i);
        }
        w->close();
    } catch (const jet::Error& e) {
        std::fprintf(stderr, "jet-make-bench: error %d: %s\n", e.number(), e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "jet-make-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
