#pragma once
// The real databases of the handler tests: the PostgreSQL server that
// scripts/pg-cluster.sh starts (QM_PG_* variables) and copies of the Access
// fixtures in a temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "db/access.h"
#include "db/parameters.h"
#include "db/postgresql.h"
#include "db/session.h"

namespace env {

inline std::string var(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

inline bool havePostgres() { return !var("QM_PG_HOST").empty() || !var("QM_PG_SOCKET_DIR").empty(); }

#define REQUIRE_POSTGRES()                                                                                   \
    do {                                                                                                     \
        if (!env::havePostgres()) GTEST_SKIP() << "no PostgreSQL server: run through scripts/pg-cluster.sh"; \
    } while (0)

inline std::filesystem::path fixtures() {
#ifdef QM_FIXTURES
    return std::filesystem::path(QM_FIXTURES);
#else
    return "/work/shared/fixtures/access";
#endif
}

// The bytes of a file, to show that a refused statement left it untouched.
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("qm-transfer-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    // A writable copy of a fixture file (the fixtures themselves are never written).
    std::string copy(const std::string& relative, const std::string& as = {}) const {
        const auto target = path_ / (as.empty() ? std::filesystem::path(relative).filename().string() : as);
        std::filesystem::copy_file(fixtures() / "files" / relative, target,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(target, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
        return target.string();
    }

private:
    std::filesystem::path path_;
};

inline db::ConnectionParameters parameters(const std::string& accessFile = {}) {
    db::ConnectionParameters p;
    p.server = var("QM_PG_HOST");
    p.port = var("QM_PG_PORT");
    p.user = var("QM_PG_USER");
    p.password = var("QM_PG_PASSWORD");
    p.database = var("QM_PG_DATABASE");
    p.accessFile = accessFile;
    return p;
}

using Rows = std::vector<std::vector<std::string>>;
inline const std::string kNull = "<null>";

// A session of its own, to set up and look at a database beside the handler.
class Session {
public:
    static Session postgres() {
        Session s;
        s.c_->setCursorLocation(3);
        s.c_->open(db::PostgreSQLConnectionString(parameters()));
        return s;
    }
    static Session access(const std::string& path, const std::string& password = {}) {
        Session s;
        s.c_->setCursorLocation(2);
        s.c_->setMode(3);
        db::ConnectionParameters p = parameters(path);
        p.accessPassword = password;
        s.c_->open(db::AccessConnectionString(path, password, [p] { return p; }));
        return s;
    }
    void exec(const std::string& sql) { c_->execute(sql); }
    Rows rows(const std::string& sql) {
        Rows out;
        auto rs = c_->openRecordset(sql);
        for (; rs && !rs->eof(); rs->moveNext()) {
            std::vector<std::string> row;
            for (int i = 0; i < rs->fieldCount(); ++i)
                row.push_back(rs->value(i).isNull() ? kNull : rs->value(i).toText());
            out.push_back(row);
        }
        return out;
    }
    std::vector<db::FieldInfo> fields(const std::string& sql) {
        auto rs = c_->openRecordset(sql);
        std::vector<db::FieldInfo> f;
        for (int i = 0; i < rs->fieldCount(); ++i) f.push_back(rs->field(i));
        return f;
    }
    void close() { c_->close(); }
    db::Connection& connection() { return *c_; }

private:
    Session() : c_(std::make_unique<db::Connection>()) {}
    std::unique_ptr<db::Connection> c_;
};

// Every session of this process (the handlers' too) works in a schema of its
// own: tests of other programs on the same server never meet these tables.
inline void ownSchema(const std::string& schema) {
    ::setenv("PGOPTIONS", ("-c search_path=" + schema).c_str(), 1);
    Session::postgres().exec("CREATE SCHEMA IF NOT EXISTS " + schema);
}

} // namespace env
