#include "cli/password.h"

#include <fstream>
#include <iostream>
#include <stdexcept>

namespace cli {

namespace {
// The first line, without its line end (a password file made with echo has one).
std::string firstLine(std::istream& in) {
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
} // namespace

void addPasswordOptions(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("password-file"), QStringLiteral("Read the Access password from the first line of F."),
                      QStringLiteral("F")});
    parser.addOption({QStringLiteral("password-stdin"), QStringLiteral("Read the Access password from standard input.")});
}

std::string readPassword(const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("password-file"))) {
        const std::string path = parser.value(QStringLiteral("password-file")).toStdString();
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read the password file '" + path + "'");
        return firstLine(in);
    }
    if (parser.isSet(QStringLiteral("password-stdin"))) return firstLine(std::cin);
    return {};
}

} // namespace cli
