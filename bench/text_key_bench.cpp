// Speed of text index keys (what every INSERT into a table with a text index, and every name lookup, pays):
// keys per second and MB of text per second over texts shaped like real columns — short names, long Latin
// text with accents, quotes and line breaks, Cyrillic, Greek, Japanese and Chinese, mixed — in both Jet4/ACE
// sort orders.
//
//   text_key_bench [seconds per case]     default: 1
#include "jet/index_key.h"
#include "jet/text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::u16string> texts(const char* const* samples, std::size_t n, std::size_t repeat)
{
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < n; ++i) {
        std::u16string s;
        for (std::size_t r = 0; r < repeat; ++r)
            s += jet::utf8ToUtf16(samples[(i + r) % n]);
        out.push_back(s + jet::utf8ToUtf16(std::to_string(i)));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    static const char* const latin[] = {"Customer", "Müller & Söhne", "O'Brien-Smith", "Café \"Zur Linde\"",
                                        "line one\nline two", "Łódź – Kraków", "naïve façade", "ÆØÅ æøå ß"};
    static const char* const other[] = {"Клиенты Йошкар-Ола", "Πελάτες Αθήνα", "東京都千代田区", "データベース",
                                        "고객 서울", "לקוחות", "العملاء", "ลูกค้า"};
    const struct {
        const char* name;
        std::vector<std::u16string> texts;
    } cases[] = {
        {"short Latin names", texts(latin, 8, 1)},
        {"long Latin text (200 chars)", texts(latin, 8, 14)},
        {"short names, other scripts", texts(other, 8, 1)},
        {"long mixed text (200 chars)", texts(other, 8, 12)},
    };
    std::printf("%-30s %-18s %12s %10s\n", "texts", "order", "keys/s", "MB/s");
    for (const auto& c : cases) {
        for (const auto& [order, orderName] : {std::pair {jet::SortOrder::General, "General"},
                                               std::pair {jet::SortOrder::GeneralLegacy, "General - Legacy"}}) {
            std::vector<std::uint8_t> key;
            std::size_t keys = 0, bytes = 0, sink = 0;
            const auto start = std::chrono::steady_clock::now();
            double elapsed = 0;
            while (elapsed < seconds) {
                for (const std::u16string& t : c.texts) {
                    key.clear();
                    jet::appendTextKey(key, t, order, true);
                    sink += key.size();
                    bytes += t.size() * 2;
                }
                keys += c.texts.size();
                elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            }
            std::printf("%-30s %-18s %12.0f %10.1f\n", c.name, orderName, keys / elapsed, bytes / elapsed / 1e6);
            if (sink == 0)
                return 1;
        }
    }
}
