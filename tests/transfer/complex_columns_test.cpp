// Access tables with attachment, multi-value and version-history columns sent to the real server. What a
// list cell must hold is read independently: from the hidden tables as mdbtools reads them, and from the
// fixtures' expected dumps (Jackcess).
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "page.h"
#include "transfer/transfer.h"

namespace {

using env::kNull;
using env::Rows;

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

std::string text(const QJsonValue& v) {
    if (v.isString()) return v.toString().toStdString();
    if (v.isDouble()) return std::to_string(v.toInteger());
    return kNull;
}

// The rows of a table as mdb-json prints them (one object per line).
std::vector<QJsonObject> mdbRows(const std::string& file, const std::string& table) {
    std::vector<QJsonObject> rows;
    std::istringstream lines(run("mdb-json " + shellQuote(file) + " " + shellQuote(table)));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) rows.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return rows;
}

// The column names of a table in their order (mdb-export's header line).
std::vector<std::string> mdbColumns(const std::string& file, const std::string& table) {
    std::string header = run("mdb-export " + shellQuote(file) + " " + shellQuote(table) + " | head -1");
    std::vector<std::string> names;
    std::istringstream in(header.substr(0, header.find('\n')));
    for (std::string name; std::getline(in, name, ',');) names.push_back(name);
    return names;
}

// The documented text form of a list cell: items joined by ';', in a multi-value cell each ';' and '\'
// of an item preceded by '\'; an empty list is Null.
std::string joined(const std::vector<std::string>& items, bool escaped) {
    if (items.empty()) return kNull;
    std::string out;
    for (const auto& item : items) {
        if (&item != &items.front()) out += ';';
        for (char c : item) {
            if (escaped && (c == ';' || c == '\\')) out += '\\';
            out += c;
        }
    }
    return out;
}

// One list column of a user table and, per row key, what its cell must hold on the server.
struct ListColumn {
    std::string table, column;
    std::map<std::string, std::string> expected; // value of the table's first column → cell text
};

// The attachment and multi-value columns of a file's user tables, from its hidden tables alone.
std::vector<ListColumn> listColumns(const std::string& file) {
    std::map<std::int64_t, std::string> names;
    for (const auto& o : mdbRows(file, "MSysObjects")) names[o["Id"].toInteger()] = o["Name"].toString().toStdString();
    std::vector<ListColumn> out;
    for (const auto& cc : mdbRows(file, "MSysComplexColumns")) {
        ListColumn lc{names[cc["ConceptualTableID"].toInteger()], cc["ColumnName"].toString().toStdString(), {}};
        const std::string flat = names[cc["FlatTableID"].toInteger()];
        if (lc.table.starts_with("MSys") || flat.empty()) continue;
        const auto flatColumns = mdbColumns(file, flat);
        const auto has = [&](const char* n) { return std::ranges::find(flatColumns, n) != flatColumns.end(); };
        const bool attachments = has("FileName");
        if (!attachments && !has("Value")) continue; // version history: its own test
        // The key column: "_" and the column's name when it was made (a renamed column keeps it).
        const auto fk = std::ranges::find_if(flatColumns, [&](const std::string& n) {
            return n.starts_with("_") && !n.starts_with(lc.table + "_");
        });
        if (fk == flatColumns.end()) continue;
        const QString value = attachments ? "FileName" : "Value";
        const auto flatRows = mdbRows(file, flat);
        if (!flatRows.empty() && std::ranges::none_of(flatRows, [&](const auto& r) { return r.contains(value); }))
            continue; // values of a type mdbtools cannot read: the unknown kinds' test
        std::map<std::int64_t, std::vector<std::string>> items; // the row's key → items in stored order
        for (const auto& r : flatRows) items[r[QString::fromStdString(*fk)].toInteger()].push_back(text(r[value]));
        const std::string key = mdbColumns(file, lc.table).at(0);
        for (const auto& r : mdbRows(file, lc.table))
            lc.expected[text(r[QString::fromStdString(key)])] =
                joined(items[r[QString::fromStdString(lc.column)].toInteger()], !attachments);
        out.push_back(std::move(lc));
    }
    return out;
}

class ComplexColumns : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_POSTGRES();
        if (run("command -v mdb-json").empty()) GTEST_SKIP() << "mdbtools is not installed";
        env::ownSchema("qm_complex_columns");
        pg = std::make_unique<env::Session>(env::Session::postgres());
    }
    // Sends one table (dropped on the server first); no error may be reported.
    void send(const std::string& file, const std::string& table) {
        pg->exec("DROP TABLE IF EXISTS \"" + table + "\"");
        Page page(file);
        page.access.addItem(table);
        page.access.select({table});
        auto context = page.context();
        transfer::sendTablesToPostgreSQL(context);
        EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{}) << file << " " << table;
    }
    std::map<std::string, std::string> cells(const std::string& table, const std::string& key,
                                             const std::string& column) {
        std::map<std::string, std::string> out;
        for (const auto& r : pg->rows("SELECT \"" + key + "\", \"" + column + "\" FROM \"" + table + "\""))
            out[r[0]] = r[1];
        return out;
    }

    env::TempDir dir;
    std::unique_ptr<env::Session> pg;
};

TEST_F(ComplexColumns, EveryItemOfEveryListCellArrives) {
    // Every readable fixture, and a copy whose multi-value cell holds a ';' and a '\' inside its values.
    std::vector<std::string> files;
    std::ifstream tsv(env::fixtures() / "files.tsv");
    for (std::string line; std::getline(tsv, line);) {
        std::istringstream fields(line);
        std::string name, format, password;
        std::getline(fields, name, '\t');
        std::getline(fields, format, '\t');
        std::getline(fields, password, '\t');
        if (format.starts_with("ACE") && password.empty()) files.push_back((env::fixtures() / "files" / name).string());
    }
    const std::string marked = dir.copy("jackcess/V2007/complexDataTestV2007.accdb", "marked.accdb");
    {
        auto access = env::Session::access(marked);
        for (const char* v : {"'a;b\\c'", "';x'"})
            access.exec(std::string("INSERT INTO `f_FCC66D28D650455480D923D1BD446BA6_multi-value-data` "
                                    "(`_multi-value-data`, `Value`) VALUES (1, ") + v + ")");
    }
    files.push_back(marked);

    std::set<std::string> seen; // table.column of every list column checked
    std::size_t nonEmpty = 0;
    for (const auto& file : files) {
        std::set<std::string> sent;
        std::string copy; // the transfer reads a copy: the fixtures stay as they are
        for (const auto& lc : listColumns(file)) {
            SCOPED_TRACE(file + ": " + lc.table + "." + lc.column);
            if (copy.empty()) copy = file == marked ? marked : dir.copy(std::filesystem::relative(file, env::fixtures() / "files"));
            if (sent.insert(lc.table).second) send(copy, lc.table);
            const std::string key = mdbColumns(file, lc.table).at(0);
            EXPECT_EQ(cells(lc.table, key, lc.column), lc.expected);
            for (const auto& [k, v] : lc.expected) nonEmpty += v != kNull;
            seen.insert(lc.table + "." + lc.column);
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"Table1.Attachments", "Table1.attach-data", "Table1.multi-value-data"}));
    EXPECT_EQ(nonEmpty, 11u); // cells that hold anything: 2 + 2 + 2 attachment cells, 2 + 3 multi-value cells
    EXPECT_EQ(cells("Table1", "id", "multi-value-data"),
              (std::map<std::string, std::string>{{"row1", "a\\;b\\\\c;\\;x"}, {"row2", "value1;value4"},
                                                  {"row3", "value1;value2;value3;value4"}, {"row4", kNull}}));
}

// The version history of an append-only memo is not a field: the memo column carries the newest text of the
// history (as the expected dump lists it, newest first). A complex column of an unknown kind arrives as Null.
TEST_F(ComplexColumns, VersionHistoryStaysBehindAndUnknownKindsAreNull) {
    const std::string file = dir.copy("jackcess/V2007/complexDataTestV2007.accdb");
    send(file, "Table1");
    EXPECT_EQ(pg->rows("SELECT column_name::text FROM information_schema.columns WHERE table_name = 'Table1' "
                       "AND table_schema = current_schema() ORDER BY ordinal_position"),
              (Rows{{"id"}, {"memo-data"}, {"append-memo-data"}, {"multi-value-data"}, {"attach-data"}}));
    std::ifstream in(env::fixtures() / "expected/jackcess/V2007/complexDataTestV2007.accdb.json");
    const std::string json((std::istreambuf_iterator<char>(in)), {});
    const QJsonArray rows = QJsonDocument::fromJson(QByteArray::fromStdString(json))["tables"][0]["rows"].toArray();
    std::map<std::string, std::string> newest;
    for (const auto& r : rows) {
        const QJsonArray history = r[1].toArray();
        newest[text(r[0])] = history.isEmpty() ? kNull : text(history[0]["value"]);
    }
    EXPECT_EQ(newest.size(), 4u);
    EXPECT_EQ(cells("Table1", "id", "append-memo-data"), newest);

    const std::string unknown = dir.copy("jackcess/V2007/unsupportedFieldsTestV2007.accdb");
    send(unknown, "Test");
    EXPECT_EQ(pg->rows("SELECT \"ID\", \"UnknownComplex\" FROM \"Test\" ORDER BY \"ID\""),
              (Rows{{"1", kNull}, {"2", kNull}, {"3", kNull}}));
}

} // namespace
