// Rows shaped like a real table, for the benchmarks: the same pseudo-random rows every run.
//
//   shape_rows csv ROWS          PostgreSQL CSV with a header line (empty unquoted field = Null)
//   shape_rows sql ROWS [TABLE]  an Access SQL script: CREATE TABLE, then one INSERT per row
//   shape_rows pg-create TABLE   the PostgreSQL CREATE TABLE the CSV loads into (typed columns)
//
// Ten columns: a running id and a customer number with repeats (Long), a product name of 8-20 characters, a small
// integer, an amount (Currency), a ratio with many digits (Double), a Yes/No, a date and time between 1800 and 2100
// that is Null in about 60% of the rows, a comment of 0-127 characters that is Null in about a third of the rows
// and otherwise mixes apostrophes, doubled blanks, backslashes, tabs, line breaks, % and _, the words NULL and
// VALUES, accented Latin, CJK and now and then an emoji, and a score (Single).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

struct Random {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    long below(long n) { return static_cast<long>(next() % static_cast<std::uint64_t>(n)); }
    double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

struct Row {
    long id = 0, customer = 0;
    std::string product;
    int quantity = 0;
    long long amountTenThousandths = 0;  // Currency: four places after the point
    double ratio = 0;
    bool flag = false;
    std::optional<std::string> when;
    std::optional<std::string> comment;
    float score = 0;
};

const char* const kWords[] = {"steel", "bolt", "oak", "panel", "lamp", "cable", "valve", "hinge", "filter", "gear",
                              "frame", "brush", "clamp", "drill", "sheet", "tile", "pump", "spring", "wheel", "rope"};

// Pieces a comment is made of: plain words and everything that trips up quoting and escaping.
const char* const kPieces[] = {
    "delivered ",  "on time ",    "it's ",       "O'Brien's ",  "  ",         "C:\\orders\\",  "\\N ",
    "\t",          "\n",          "\r\n",        "100% ",       "snake_case ", "NULL ",        "VALUES ",
    "'quoted' ",   "\"double\" ", "café ",       "naïve ",      "Ærøskøbing ", "Zürich ",      "señor ",
    "東京 ",       "納品書 ",     "서울 ",       "中文 ",       "--; ",       "a,b,c ",        "x = 1 ",
    "second line", "the end. ",   "",
};
constexpr int kPieceCount = sizeof kPieces / sizeof kPieces[0];

// Characters of UTF-8 text (code points).
std::size_t characters(const std::string& s)
{
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

// Cuts UTF-8 text to at most `limit` code points.
void cutTo(std::string& s, std::size_t limit)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n++ == limit) {
            s.resize(i);
            return;
        }
}

Row makeRow(long i, long rows)
{
    Random r{static_cast<std::uint64_t>(i) * 7919u + 17u};
    Row row;
    row.id = i;
    row.customer = 1 + r.below(rows / 20 + 1);
    const long nameLength = 8 + r.below(13);
    while (static_cast<long>(row.product.size()) < nameLength) {
        if (!row.product.empty())
            row.product += ' ';
        row.product += kWords[r.below(20)];
    }
    row.product.resize(static_cast<std::size_t>(nameLength));
    if (row.product.back() == ' ')
        row.product.back() = 'x';
    row.quantity = static_cast<int>(r.below(2000)) - 100;
    row.amountTenThousandths = r.below(2000000000) - 100000000;
    row.ratio = (r.unit() - 0.3) * 1e6 / (1 + r.below(997));
    row.flag = r.below(2) == 0;
    if (r.below(10) >= 6) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld", 1800 + r.below(301), 1 + r.below(12),
                      1 + r.below(28), r.below(24), r.below(60), r.below(60));
        row.when = buf;
    }
    if (r.below(3) != 0) {
        const std::size_t length = static_cast<std::size_t>(r.below(128));
        std::string text;
        if (r.below(25) == 0)
            text += "🙂 ";
        while (characters(text) < length)
            text += kPieces[r.below(kPieceCount)];
        cutTo(text, length);
        row.comment = text;
    }
    row.score = static_cast<float>((r.unit() - 0.5) * 20000.0);
    return row;
}

std::string amountText(long long tenThousandths)
{
    char buf[40];
    const long long whole = tenThousandths / 10000, part = tenThousandths % 10000;
    std::snprintf(buf, sizeof buf, "%s%lld.%04lld", tenThousandths < 0 ? "-" : "", whole < 0 ? -whole : whole,
                  part < 0 ? -part : part);
    return buf;
}

void csvQuoted(std::string& out, const std::string& text)
{
    out += '"';
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void sqlQuoted(std::string& out, const std::string& text)
{
    out += '\'';
    for (char c : text) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    out += '\'';
}

std::string csvLine(const Row& row)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "%ld,%ld,", row.id, row.customer);
    std::string out = buf;
    csvQuoted(out, row.product);
    std::snprintf(buf, sizeof buf, ",%d,%s,%.17g,%s,", row.quantity, amountText(row.amountTenThousandths).c_str(),
                  row.ratio, row.flag ? "true" : "false");
    out += buf;
    if (row.when)
        out += *row.when;
    out += ',';
    if (row.comment)
        csvQuoted(out, *row.comment);
    std::snprintf(buf, sizeof buf, ",%.9g\n", static_cast<double>(row.score));
    out += buf;
    return out;
}

std::string insertLine(const Row& row, const std::string& table)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "%ld, %ld, ", row.id, row.customer);
    std::string out = "INSERT INTO `" + table + "` VALUES(" + buf;
    sqlQuoted(out, row.product);
    std::snprintf(buf, sizeof buf, ", %d, %s, %.17g, %s, ", row.quantity, amountText(row.amountTenThousandths).c_str(),
                  row.ratio, row.flag ? "'True'" : "'False'");
    out += buf;
    if (row.when)
        sqlQuoted(out, *row.when);
    else
        out += "NULL";
    out += ", ";
    if (row.comment)
        sqlQuoted(out, *row.comment);
    else
        out += "NULL";
    std::snprintf(buf, sizeof buf, ", %.9g);\n", static_cast<double>(row.score));
    out += buf;
    return out;
}

int usage()
{
    std::fprintf(stderr, "usage: shape_rows csv ROWS | shape_rows sql ROWS [TABLE] | shape_rows pg-create TABLE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const std::string mode = argv[1];
    if (mode == "pg-create") {
        std::printf("CREATE TABLE %s(id integer, customer integer, product varchar(20), quantity smallint, "
                    "amount numeric(19,4), ratio double precision, flag boolean, happened timestamp, comment text, "
                    "score real);\n",
                    argv[2]);
        return 0;
    }
    const long rows = std::atol(argv[2]);
    if (rows <= 0 || (mode != "csv" && mode != "sql"))
        return usage();
    const std::string table = argc > 3 ? argv[3] : "shape";
    std::string out;
    if (mode == "csv")
        out = "id,customer,product,quantity,amount,ratio,flag,happened,comment,score\n";
    else
        out = "CREATE TABLE `" + table + "`(`id` LONG, `customer` LONG, `product` VARCHAR(20), `quantity` SMALLINT, "
              "`amount` CURRENCY, `ratio` DOUBLE, `flag` BIT, `happened` DATETIME, `comment` MEMO, `score` REAL);\n";
    for (long i = 1; i <= rows; ++i) {
        const Row row = makeRow(i, rows);
        out += mode == "csv" ? csvLine(row) : insertLine(row, table);
        if (out.size() > (1u << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
