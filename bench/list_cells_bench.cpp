// Cost of the record set's cell values: rows shaped like a real table (short and long text with quotes, line
// breaks and Unicode, Nulls, dates with times, numbers) beside the same rows with a multi-value cell (three
// items, one holding a ';') and an attachment cell (two names). The engine values are built first: what is
// timed is db::accessCellValue and the text form every transfer takes of it. CPU time is given beside wall
// time, as the machine may be shared.
//
//   list_cells_bench [rows]        default: 500000
#include "db/access_values.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

std::vector<jet::Value> plainRow(long i) {
    std::vector<jet::Value> row;
    row.emplace_back(std::int32_t(i));
    row.emplace_back(std::string("customer ") + std::to_string(i % 9973));
    row.emplace_back(std::string("it's a note of row ") + std::to_string(i) + ",\r\nwith \"quotes\" and Grüße 東京");
    row.emplace_back(i % 5 ? jet::Value(double(i) * 0.37) : jet::Value());
    row.emplace_back(jet::DateTime{45000.0 + double(i % 1000) + double(i % 86400) / 86400.0});
    return row;
}

std::vector<jet::Value> listRow(long i) {
    auto row = plainRow(i);
    row.emplace_back(jet::MultiValues{std::int32_t(i), {std::string("red"), std::string("green;blue"),
                                                        std::string("item ") + std::to_string(i % 100)}});
    row.emplace_back(jet::Attachments{{"report " + std::to_string(i) + ".pdf", "pdf", {}},
                                      {"photo.jpg", "jpg", {}}});
    return row;
}

void measure(const char* what, const std::vector<std::vector<jet::Value>>& rows) {
    std::size_t cells = 0, bytes = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    for (const auto& row : rows)
        for (const auto& v : row) {
            const db::Variant cell = db::accessCellValue(v);
            bytes += cell.isNull() ? 0 : cell.toText().size();
            ++cells;
        }
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-28s %9zu rows %10zu cells %8.3f s wall %8.3f s cpu %8.1f ns/cell %8.1f MB text\n", what,
                rows.size(), cells, wall, cpu, cpu * 1e9 / double(cells), double(bytes) / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    const long n = argc > 1 ? std::atol(argv[1]) : 500000;
    std::vector<std::vector<jet::Value>> plain, lists;
    plain.reserve(std::size_t(n));
    lists.reserve(std::size_t(n));
    for (long i = 0; i < n; ++i) {
        plain.push_back(plainRow(i));
        lists.push_back(listRow(i));
    }
    measure("5 scalar columns", plain);
    measure("the same + 2 list columns", lists);
}
