// Every table of every Jet 4 and ACE fixture goes to PostgreSQL and back to a
// new Access file; the values arrive as the type rules promise.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "page.h"
#include "transfer/transfer.h"

namespace {

struct Fixture {
    std::string file, format, password;
    int tables = 0;
};

void PrintTo(const Fixture& f, std::ostream* os) { *os << f.file; }

std::vector<Fixture> fixturesWithTables() {
    std::vector<Fixture> list;
    std::ifstream tsv(env::fixtures() / "files.tsv");
    std::string line;
    std::getline(tsv, line); // header
    while (std::getline(tsv, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string cell; std::getline(ss, cell, '\t');) f.push_back(cell);
        if (f.size() < 5 || f[1] == "JET3" || std::stoi(f[3]) == 0) continue;
        list.push_back({f[0], f[1], f[2], std::stoi(f[3])});
    }
    return list;
}

// An empty file of the same format to send the tables back to.
std::string emptyTemplate(const std::string& format) {
    static const std::map<std::string, std::string> templates{{"JET4", "jackcess/templates/empty.mdb"},
                                                              {"ACE12", "jackcess/templates/empty2007.accdb"},
                                                              {"ACE14", "jackcess/templates/empty2010.accdb"},
                                                              {"ACE16", "jackcess/templates/empty2016.accdb"},
                                                              {"ACE17", "jackcess/templates/empty2019.accdb"}};
    return templates.at(format);
}

// A table's values as text, rows sorted (other readers may return them in another order).
struct TableValues {
    std::vector<db::FieldInfo> fields;
    env::Rows rows;
};

TableValues read(env::Session& s, const std::string& sql) {
    TableValues t{s.fields(sql), s.rows(sql)};
    std::sort(t.rows.begin(), t.rows.end());
    return t;
}

// What a source value becomes after the trip: every value crosses as its text
// form, and the empty text as NULL; currency comes back as DECIMAL with the
// same digits, yes/no as the text True or False.
std::string expectedAfterTrip(const std::string& sourceText) { return sourceText.empty() ? env::kNull : sourceText; }

class RoundTrip : public ::testing::TestWithParam<Fixture> {};

TEST_P(RoundTrip, EveryTableThereAndBack) {
    REQUIRE_POSTGRES();
    const Fixture& fx = GetParam();
    env::TempDir dir;
    const std::string ext = fx.format == "JET4" ? ".mdb" : ".accdb";
    const std::string source = dir.copy(fx.file, "source" + ext);
    const std::string target = dir.copy(emptyTemplate(fx.format), "target" + ext);

    // A schema of its own, first in the search path of every session of this test.
    ::setenv("PGOPTIONS", "-c search_path=qm_round_trip", 1);
    {
        auto pg = env::Session::postgres();
        pg.exec("DROP SCHEMA IF EXISTS qm_round_trip CASCADE");
        pg.exec("CREATE SCHEMA qm_round_trip");
    }

    auto names = db::ListAccessTables(source, [&] {
        db::ConnectionParameters p = env::parameters(source);
        p.accessPassword = fx.password;
        return p;
    });
    ASSERT_TRUE(names.has_value());
    ASSERT_EQ(int(names->size()), fx.tables);

    Page there(source);
    there.fields.accessPassword = fx.password;
    for (const auto& n : *names) there.access.addItem(n);
    for (int i = 0; i < there.access.count(); ++i) there.access.setSelected(i, true);
    there.access.setCurrentIndex(0);
    auto c1 = there.context();
    const auto sent = transfer::sendTablesToPostgreSQL(c1);
    EXPECT_EQ(there.dialogs.reports, std::vector<std::string>{});
    EXPECT_EQ(sent.tablesSent, fx.tables);

    Page back(target);
    for (const auto& n : there.postgres.items()) back.postgres.addItem(n);
    for (int i = 0; i < back.postgres.count(); ++i) back.postgres.setSelected(i, true);
    back.postgres.setCurrentIndex(0);
    auto c2 = back.context();
    const auto returned = transfer::sendTablesToAccess(c2);
    EXPECT_EQ(back.dialogs.reports, std::vector<std::string>{});
    EXPECT_EQ(returned.tablesSent, fx.tables);
    EXPECT_EQ(returned.rowsSent, sent.rowsSent);

    auto from = env::Session::access(source, fx.password);
    auto to = env::Session::access(target);
    for (const auto& name : *names) {
        SCOPED_TRACE(name);
        const TableValues a = read(from, "SELECT * FROM `" + name + "`");
        TableValues b;
        try {
            b = read(to, "SELECT * FROM `" + name + "`");
        } catch (const std::exception& e) {
            ADD_FAILURE() << "not in the new file: " << e.what();
            continue;
        }
        ASSERT_EQ(b.fields.size(), a.fields.size());
        for (std::size_t c = 0; c < a.fields.size(); ++c) {
            SCOPED_TRACE(a.fields[c].name);
            EXPECT_EQ(b.fields[c].name, a.fields[c].name);
            // The type each source type comes back as.
            switch (a.fields[c].type) {
            case db::ado::adCurrency: EXPECT_EQ(b.fields[c].type, db::ado::adNumeric); break;
            case db::ado::adBoolean: EXPECT_EQ(b.fields[c].type, db::ado::adVarWChar); break;
            default: EXPECT_EQ(b.fields[c].type, db::ado::adLongVarWChar); break; // TEXT on the server, MEMO here
            }
        }
        env::Rows expected;
        for (const auto& row : a.rows) {
            std::vector<std::string> e;
            for (const auto& v : row) e.push_back(v == env::kNull ? env::kNull : expectedAfterTrip(v));
            expected.push_back(e);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(b.rows, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RoundTrip, ::testing::ValuesIn(fixturesWithTables()),
                         [](const ::testing::TestParamInfo<Fixture>& info) {
                             std::string n;
                             for (char ch : info.param.file) n += std::isalnum((unsigned char)ch) ? ch : '_';
                             return n;
                         });

} // namespace
