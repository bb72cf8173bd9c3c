#pragma once
// Shared pieces of the PostgreSQL tests: the server that scripts/pg-cluster.sh
// started (QM_PG_* variables), a scratch schema per test, and scripted list
// box and dialogs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/ui.h"
#include "db/parameters.h"
#include "db/pg_session.h"
#include "db/postgresql.h"

namespace db {
// Readable failure messages: the text form and which alternative it is.
inline void PrintTo(const Variant& v, std::ostream* os) {
    *os << "[" << v.toText() << "] (alternative " << v.storage().index() << ")";
}
} // namespace db

namespace pgtest {

inline std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The server's fields as the ConnectionPage would hold them; empty server
// when the tests run without a cluster.
inline db::ConnectionParameters serverParameters() {
    db::ConnectionParameters p;
    p.server = env("QM_PG_HOST");
    p.port = env("QM_PG_PORT");
    p.user = env("QM_PG_USER");
    p.password = env("QM_PG_PASSWORD");
    p.database = env("QM_PG_DATABASE");
    return p;
}

inline bool haveServer() { return !env("QM_PG_HOST").empty() && !env("QM_PG_PORT").empty(); }

#define QM_REQUIRE_PG_SERVER()                                                                                        \
    do {                                                                                                              \
        if (!::pgtest::haveServer())                                                                                  \
            GTEST_SKIP() << "*** NO POSTGRESQL SERVER: run the tests through scripts/pg-cluster.sh (./test does) ***"; \
    } while (0)

inline std::unique_ptr<db::PostgreSQLBackend> connect(const db::ConnectionParameters& p = serverParameters()) {
    return std::make_unique<db::PostgreSQLBackend>(db::PostgreSQLConnectionString(p));
}

// Runs a statement that must succeed and yield no rows.
inline void exec(db::PostgreSQLBackend& pg, const std::string& sql) {
    auto rs = pg.execute(sql);
    if (rs) rs->close();
}

// First column of the first row as text.
inline std::string scalar(db::PostgreSQLBackend& pg, const std::string& sql) {
    auto rs = pg.execute(sql);
    if (!rs || rs->eof()) throw std::runtime_error("no row from " + sql);
    return rs->value(0).toText();
}

inline std::string uniqueName(const std::string& prefix) {
    static int serial = 0;
    return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(++serial);
}

// A fixture with its own connection and a scratch schema first on the search
// path, dropped again afterwards.
class PgFixture : public ::testing::Test {
protected:
    void SetUp() override {
        QM_REQUIRE_PG_SERVER();
        pg = connect();
        const std::string name = uniqueName("qm_test");
        exec(*pg, "CREATE SCHEMA " + name);
        schema = name;
        exec(*pg, "SET search_path = " + schema + ", public");
    }
    void TearDown() override {
        if (schema.empty()) return;
        try {
            auto cleanup = connect();
            exec(*cleanup, "DROP SCHEMA IF EXISTS " + schema + " CASCADE");
        } catch (...) {
        }
    }

    std::unique_ptr<db::PostgreSQLBackend> pg;
    std::string schema;
};

// A list box that keeps its entries sorted ignoring case, as the page's does.
class RecordingList : public ui::ListBox {
public:
    std::vector<std::string> items;
    int clears = 0;

    int count() const override { return int(items.size()); }
    std::string item(int index) const override { return items.at(std::size_t(index)); }
    bool selected(int) const override { return false; }
    void setSelected(int, bool) override {}
    int selCount() const override { return 0; }
    int currentIndex() const override { return current; }
    void setCurrentIndex(int index) override { current = index; }
    void addItem(const std::string& text) override {
        auto lessNoCase = [](const std::string& a, const std::string& b) {
            return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                return std::tolower((unsigned char)x) < std::tolower((unsigned char)y);
            });
        };
        items.insert(std::upper_bound(items.begin(), items.end(), text, lessNoCase), text);
    }
    void removeItem(int index) override { items.erase(items.begin() + index); }
    void clear() override {
        items.clear();
        ++clears;
    }
    long occurrences(const std::string& name) const { return std::count(items.begin(), items.end(), name); }

private:
    int current = -1;
};

class RecordingDialogs : public ui::Dialogs {
public:
    int events = 0;
    std::vector<std::string> shown;
    void message(const std::string& text, const std::string&) override { shown.push_back(text); }
    int question(const std::string& text, const std::string&) override {
        shown.push_back(text);
        return ui::AnswerNo;
    }
    std::string input(const std::string& prompt, const std::string&, const std::string&) override {
        shown.push_back(prompt);
        return {};
    }
    void errorReport(const std::string& text) override { shown.push_back(text); }
    void processEvents() override { ++events; }
};

} // namespace pgtest
