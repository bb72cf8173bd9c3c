// check: verifies an Access file the way a careful engine would before trusting it.
#include <QCommandLineParser>
#include <cstdio>

#include "cli/command.h"
#include "cli/password.h"
#include "jet/check.h"
#include "jet/error.h"

namespace cli {

namespace {

constexpr int ExitFindings = 3;

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Walks every index of every table (entry order, keys against the rows they point to, counts), compares "
        "row counts with a scan, usage maps with the pages they claim and the free-page map with the pages in use. "
        "Prints each finding; exit status 3 when there is one."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The Access file."));
    parser.addOption({QStringLiteral("statistics"),
                      QStringLiteral("Also report unique-key counters that differ (Access itself rarely keeps them).")});
    parser.addOption({QStringLiteral("leaks"), QStringLiteral("Also report pages marked in use that nothing references.")});
    addPasswordOptions(parser);
    if (const auto done = parseArguments(parser, arguments)) return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        fail("usage: quillmere-cli check FILE [--statistics] [--leaks] [--password-file F | --password-stdin]");
        return ExitUnavailable;
    }
    const std::string path = positional.first().toStdString();
    jet::CheckOptions options;
    options.statistics = parser.isSet(QStringLiteral("statistics"));
    options.leaks = parser.isSet(QStringLiteral("leaks"));
    jet::CheckReport report;
    try {
        options.password = readPassword(parser);
        report = jet::checkFileReport(path, options);
    } catch (const std::exception& e) {
        fail(path + ": " + e.what());
        return ExitUnavailable;
    }
    for (const auto& finding : report.findings) std::printf("%s\n", jet::describe(finding).c_str());
    std::fprintf(stderr, "%zu table(s), %zu row(s), %zu index entries checked; %zu finding(s)\n", report.tables,
                 report.rows, report.indexEntries, report.findings.size());
    return report.findings.empty() ? ExitOk : ExitFindings;
}

const Registrar registrar{{"check", "Verify the structure of an Access file", run}};

} // namespace

} // namespace cli
