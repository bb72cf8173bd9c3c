// jet-dump: the canonical dump of an Access file, straight from the jet engine.
//
//   jet-dump FILE [--table NAME]... [--format json|csv] [--password-file F | --password-stdin]
//   jet-dump --tables FILE [--all]      user tables (or every catalogue object with its TABLE_TYPE)
//   jet-dump --count FILE [--table NAME]   exact row counts
//
// Exit status: 0 all read, 1 the file cannot be opened, 2 some table failed.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/dump.h"

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: jet-dump FILE [--table NAME]... [--format json|csv] [--password-file F | --password-stdin]\n"
                 "       jet-dump --tables FILE [--all] [password options]\n"
                 "       jet-dump --count FILE [--table NAME]... [password options]\n");
}

std::string readPasswordFrom(std::istream& in) {
    std::string pw;
    std::getline(in, pw);
    if (!pw.empty() && pw.back() == '\r') pw.pop_back();
    return pw;
}

} // namespace

int main(int argc, char** argv) {
    std::string file, mode = "dump";
    jet::DumpOptions opt;
    jet::OpenOptions open;
    bool all = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(1);
            }
            return argv[++i];
        };
        if (a == "--table") opt.tables.push_back(value());
        else if (a == "--format") {
            std::string f = value();
            if (f == "json") opt.format = jet::DumpFormat::Json;
            else if (f == "csv") opt.format = jet::DumpFormat::Csv;
            else {
                usage();
                return 1;
            }
        } else if (a == "--password-file") {
            std::ifstream in(value());
            if (!in) {
                std::fprintf(stderr, "jet-dump: cannot read the password file\n");
                return 1;
            }
            open.password = readPasswordFrom(in);
        } else if (a == "--password-stdin") {
            open.password = readPasswordFrom(std::cin);
        } else if (a == "--tables") mode = "tables";
        else if (a == "--count") mode = "count";
        else if (a == "--all") all = true;
        else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (!a.empty() && a[0] == '-') {
            usage();
            return 1;
        } else if (file.empty()) file = a;
        else {
            usage();
            return 1;
        }
    }
    if (file.empty()) {
        usage();
        return 1;
    }
    std::unique_ptr<jet::Database> db;
    try {
        db = jet::Database::open(file, open);
    } catch (const jet::Error& e) {
        std::fprintf(stderr, "jet-dump: error %d: %s\n", e.number(), e.what());
        return 1;
    }
    std::ios::sync_with_stdio(false);
    static char outBuf[1 << 16];
    std::cout.rdbuf()->pubsetbuf(outBuf, sizeof outBuf);
    try {
        if (mode == "tables") {
            for (const auto& e : db->catalog()) {
                if (all) {
                    if (!e.schemaType.empty()) std::cout << e.schemaType << '\t' << e.name << '\n';
                } else if (e.schemaType == "TABLE") {
                    std::cout << e.name << '\n';
                }
            }
            return 0;
        }
        if (mode == "count") {
            auto names = opt.tables.empty() ? jet::dumpTableOrder(*db) : opt.tables;
            int rc = 0;
            for (const auto& n : names) {
                try {
                    auto t = db->openTable(n);
                    std::cout << t->name() << '\t' << t->countRows() << '\n';
                } catch (const jet::Error& e) {
                    std::fprintf(stderr, "jet-dump: %s: error %d: %s\n", n.c_str(), e.number(), e.what());
                    rc = 2;
                }
            }
            return rc;
        }
        auto r = jet::dump(*db, std::cout, opt);
        std::cout.flush();
        for (const auto& m : r.messages) std::fprintf(stderr, "jet-dump: %s\n", m.c_str());
        return r.ok() ? 0 : 2;
    } catch (const jet::Error& e) {
        std::cout.flush();
        std::fprintf(stderr, "jet-dump: error %d: %s\n", e.number(), e.what());
        return e.number() == jet::errc::TableNotFound ? 2 : 2;
    }
}
