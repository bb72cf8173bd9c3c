// Helpers of the writer tests: temporary copies of fixtures, a small JSON reader for the expected dumps and
// mdb-reader's output, the independent readers (mdbtools, mdb-reader) run as programs, and reading a table
// back through the writer's own row decoder.
#pragma once

#include "jet/convert.h"
#include "jet/create_db.h"
#include "jet/error.h"
#include "jet/writer_internal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include <unistd.h>

#ifndef QM_ACCESS_FIXTURES
#define QM_ACCESS_FIXTURES "../shared/fixtures/access"
#endif
#ifndef QM_SOURCE_DIR
#define QM_SOURCE_DIR "."
#endif

namespace wt {

namespace fs = std::filesystem;

inline std::string fixture(const std::string& rel) { return std::string(QM_ACCESS_FIXTURES) + "/" + rel; }
inline std::string fixtureFile(const std::string& rel) { return fixture("files/" + rel); }

// A folder under the system temp dir, removed with its contents at the end of the test.
class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "qm-write-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Copies a fixture (read-only in the shared folder) into the temp dir, writable.
    std::string copy(const std::string& rel, const std::string& as = "") const
    {
        const fs::path dst = path_ / (as.empty() ? fs::path(rel).filename() : fs::path(as));
        fs::copy_file(fixtureFile(rel), dst, fs::copy_options::overwrite_existing);
        fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
        return dst.string();
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

inline std::string slurp(const std::string& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Upper-case hex of bytes, as the measured key files write them.
inline std::string hex(const std::vector<std::uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// Runs a command; returns its standard output and sets `status` to its exit status.
inline std::string run(const std::string& cmd, int& status)
{
    std::string out;
    FILE* f = ::popen(cmd.c_str(), "r");
    if (!f) {
        status = -1;
        return out;
    }
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    const int rc = ::pclose(f);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// Puts scripts/mdb_reader_dump.mjs into the oracle folder: copied under a name of this process, then renamed,
// so that a test process running beside this one never starts node on a half-written script (node then prints
// nothing and exits 0). Returns false when it could not be placed.
inline bool placeMdbReaderScript(const std::string& dir)
{
    std::error_code ec;
    const std::string part = dir + "/mdb_reader_dump.mjs." + std::to_string(::getpid());
    std::filesystem::copy_file(std::string(QM_SOURCE_DIR) + "/scripts/mdb_reader_dump.mjs", part,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (!ec)
        std::filesystem::rename(part, dir + "/mdb_reader_dump.mjs", ec);
    return !ec;
}

// The number of the jet::Error that `f` throws; 0 when it throws none.
inline int errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const jet::Error& e) {
        return e.number();
    }
    return 0;
}

// One new file of every format the engine creates, the last one encrypted with a password.
struct NewFileCase {
    jet::NewFormat format;
    const char* file;
    const char* password;
};
inline constexpr NewFileCase kEveryNewFormat[] = {
    {jet::NewFormat::Jet3, "a.mdb", ""},     {jet::NewFormat::Jet4, "b.mdb", ""},
    {jet::NewFormat::Ace12, "c.accdb", ""},  {jet::NewFormat::Ace14, "d.accdb", ""},
    {jet::NewFormat::Ace16, "e.accdb", ""},  {jet::NewFormat::Ace17, "f.accdb", ""},
    {jet::NewFormat::Ace17, "g.accdb", "s3cret"}};

inline std::string shellQuote(const std::string& s)
{
    std::string r = "'";
    for (char c : s) {
        if (c == '\'')
            r += "'\\''";
        else
            r.push_back(c);
    }
    return r + "'";
}

// ---- a small JSON reader ------------------------------------------------------------------------------
struct Json;
using JsonArray = std::vector<Json>;
using JsonObject = std::vector<std::pair<std::string, Json>>;
struct Json {
    std::variant<std::nullptr_t, bool, double, std::string, JsonArray, JsonObject> v;
    std::string numberText;  // numbers as written
    bool isNull() const { return std::holds_alternative<std::nullptr_t>(v); }
    const std::string& str() const { return std::get<std::string>(v); }
    const JsonArray& arr() const { return std::get<JsonArray>(v); }
    const JsonObject& obj() const { return std::get<JsonObject>(v); }
    const Json* get(const std::string& k) const
    {
        if (!std::holds_alternative<JsonObject>(v))
            return nullptr;
        for (const auto& [key, val] : obj())
            if (key == k)
                return &val;
        return nullptr;
    }
};

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : s_(s) {}
    Json parse()
    {
        Json j = value();
        ws();
        if (i_ != s_.size())
            throw std::runtime_error("JSON: trailing text");
        return j;
    }

private:
    void ws()
    {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_])))
            ++i_;
    }
    Json value()
    {
        ws();
        if (i_ >= s_.size())
            throw std::runtime_error("JSON: unexpected end");
        const char c = s_[i_];
        Json j;
        if (c == '{') {
            ++i_;
            JsonObject o;
            ws();
            if (s_[i_] == '}') {
                ++i_;
                j.v = o;
                return j;
            }
            while (true) {
                ws();
                std::string k = string();
                ws();
                ++i_;  // ':'
                o.emplace_back(std::move(k), value());
                ws();
                if (s_[i_++] == '}')
                    break;
            }
            j.v = std::move(o);
        } else if (c == '[') {
            ++i_;
            JsonArray a;
            ws();
            if (s_[i_] == ']') {
                ++i_;
                j.v = a;
                return j;
            }
            while (true) {
                a.push_back(value());
                ws();
                if (s_[i_++] == ']')
                    break;
            }
            j.v = std::move(a);
        } else if (c == '"') {
            j.v = string();
        } else if (s_.compare(i_, 4, "null") == 0) {
            i_ += 4;
            j.v = nullptr;
        } else if (s_.compare(i_, 4, "true") == 0) {
            i_ += 4;
            j.v = true;
        } else if (s_.compare(i_, 5, "false") == 0) {
            i_ += 5;
            j.v = false;
        } else {
            const std::size_t st = i_;
            while (i_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '-' ||
                                      s_[i_] == '+' || s_[i_] == '.' || s_[i_] == 'e' || s_[i_] == 'E'))
                ++i_;
            j.numberText = s_.substr(st, i_ - st);
            j.v = std::strtod(j.numberText.c_str(), nullptr);
        }
        return j;
    }
    std::string string()
    {
        std::string out;
        ++i_;  // opening quote
        while (s_[i_] != '"') {
            char c = s_[i_++];
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            c = s_[i_++];
            switch (c) {
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'u': {
                unsigned cp = static_cast<unsigned>(std::stoul(s_.substr(i_, 4), nullptr, 16));
                i_ += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF && s_.compare(i_, 2, "\\u") == 0) {
                    const unsigned lo = static_cast<unsigned>(std::stoul(s_.substr(i_ + 2, 4), nullptr, 16));
                    if (lo >= 0xDC00 && lo <= 0xDFFF) {
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                        i_ += 6;
                    }
                }
                std::u16string u;
                if (cp >= 0x10000) {
                    u.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                    u.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
                } else {
                    u.push_back(static_cast<char16_t>(cp));
                }
                out += jet::utf16ToUtf8(u);
                break;
            }
            default: out.push_back(c);
            }
        }
        ++i_;
        return out;
    }
    const std::string& s_;
    std::size_t i_ = 0;
};

inline Json parseJson(const std::string& s) { return JsonParser(s).parse(); }

// ---- reading back through the writer's own decoder --------------------------------------------------
struct ReadTable {
    std::vector<jet::w::Col> columns;  // by column number
    std::vector<std::vector<jet::Cell>> rows;
};

inline std::map<std::string, ReadTable> readBack(const std::string& path, jet::PageCache& cache)
{
    using namespace jet::w;
    std::map<std::string, ReadTable> out;
    Table mso = readTable(cache, 2);
    const Col* cId = mso.column(u"Id");
    const Col* cName = mso.column(u"Name");
    const Col* cType = mso.column(u"Type");
    const Col* cFlags = mso.column(u"Flags");
    std::vector<std::pair<std::uint32_t, std::string>> tables;
    forEachRow(cache, mso, [&](const RowRef& r) {
        auto cells = decodeRow(cache, mso, r.bytes, false);
        if (!cells[cType->number].present || rd16(cells[cType->number].bytes.data()) != 1)
            return;
        const std::uint32_t flags =
            cells[cFlags->number].present ? rd32(cells[cFlags->number].bytes.data()) : 0;
        if (flags & 0x80000002u)
            return;
        tables.emplace_back(rd32(cells[cId->number].bytes.data()),
                            jet::utf16ToUtf8(decodeColumnText(*cName, cells[cName->number].bytes)));
    });
    (void)path;
    for (auto& [id, name] : tables) {
        Table t = readTable(cache, id);
        ReadTable rt;
        std::vector<Col> cols = t.cols;
        std::sort(cols.begin(), cols.end(), [](const Col& a, const Col& b) { return a.number < b.number; });
        rt.columns = cols;
        forEachRow(cache, t, [&](const RowRef& r) {
            auto raw = decodeRow(cache, t, r.bytes, true);
            std::vector<jet::Cell> row;
            for (const Col& c : cols)
                row.push_back(toCell(c, c.number < raw.size() ? raw[c.number] : RawCell{}));
            rt.rows.push_back(std::move(row));
        });
        out[name] = std::move(rt);
    }
    return out;
}

inline std::map<std::string, ReadTable> readBack(const std::string& path)
{
    // Access 97 files (version byte 0 at 0x14) have 2 KiB pages.
    char head[0x15] = {};
    std::ifstream(path, std::ios::binary).read(head, sizeof head);
    const std::uint32_t pageSize = head[0x14] == 0 ? 2048 : jet::w::kPage;
    jet::PageCache cache(jet::openPosixFile(path, false), pageSize, path);
    return readBack(path, cache);
}

}  // namespace wt
