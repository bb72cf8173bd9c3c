// Builds the sample database: a new, empty Jet 4 file filled by the
// statements of a data script, each run on its own.
//
//   make_sample OUTPUT.mdb SCRIPT.sql

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "jet/create_db.h"
#include "jet/sql.h"
#include "jet/writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_sample OUTPUT.mdb SCRIPT.sql\n";
        return 2;
    }
    const std::string output = argv[1], scriptPath = argv[2];
    std::ifstream in(scriptPath, std::ios::binary);
    if (!in) {
        std::cerr << "make_sample: cannot read " << scriptPath << "\n";
        return 1;
    }
    std::stringstream script;
    script << in.rdbuf();
    const std::string temporary = output + ".tmp";
    try {
        std::filesystem::create_directories(std::filesystem::path(output).parent_path());
        std::filesystem::remove(temporary);
        jet::createDatabase(temporary, jet::Format::Jet4);
        auto writer = jet::Writer::open(temporary);
        int count = 0;
        for (const auto& statement : jet::sql::splitScript(script.str())) {
            writer->execute(statement);
            ++count;
        }
        writer->close();
        std::filesystem::rename(temporary, output);
        std::cout << "make_sample: " << output << ": " << count << " statements\n";
    } catch (const std::exception& e) {
        std::cerr << "make_sample: " << e.what() << "\n";
        std::filesystem::remove(temporary);
        return 1;
    }
    return 0;
}
