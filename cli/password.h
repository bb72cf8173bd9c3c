#pragma once
// The Access password of a subcommand: from a file (--password-file F) or
// from standard input (--password-stdin), never from the command line itself.
#include <QCommandLineParser>
#include <string>

namespace cli {

void addPasswordOptions(QCommandLineParser& parser);
// The password the options name; empty when none is given. Throws
// std::runtime_error when the file cannot be read.
std::string readPassword(const QCommandLineParser& parser);

} // namespace cli
