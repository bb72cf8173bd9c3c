// Verifies an Access file (Access 97, Jet 4 / ACE) the way a careful engine would before trusting it: every table of the
// catalogue is scanned, every index walked (page types, links, entry order, node entries against their
// children, key encoding against the rows the entries point to, entry and unique counts), row counts compared
// with the scan, usage maps checked against the pages they claim, and every page in use checked against the
// free-page map of page 1.
#pragma once

#include <string>
#include <vector>

namespace jet {

struct CheckFinding {
    enum class Kind {
        Structure,     // a broken page, link, map or row: a real reader may fail
        Index,         // an index entry out of order, missing, extra or with a wrong key
        Count,         // a stored row count that differs from the scan
        Statistic,     // a unique-key counter that differs (Access itself does not keep these exact)
        FreeMap,       // a page in use that page 1 marks free, or a page past the end of the file
    };
    Kind kind = Kind::Structure;
    std::string where;  // table / index / page
    std::string what;
};

struct CheckOptions {
    bool statistics = false;  // report unique-key counters that differ (Access's own files rarely agree)
    bool leaks = false;       // report pages that page 1 marks in use but nothing references
    std::string password;     // of an encrypted .accdb (3031 when wrong or missing)
};

struct CheckReport {
    std::vector<CheckFinding> findings;
    std::size_t tables = 0;           // tables scanned
    std::size_t rows = 0;             // rows decoded
    std::size_t indexEntries = 0;     // index entries whose key was recomputed from their row and matched
    std::size_t unkeyedIndexes = 0;   // indexes left unverified: a row holds a value the engine cannot key
};

// Throws jet::Error only when the file cannot be opened at all; everything else is a finding.
CheckReport checkFileReport(const std::string& path, const CheckOptions& options = {});
std::vector<CheckFinding> checkFile(const std::string& path, const CheckOptions& options = {});

std::string describe(const CheckFinding& f);

}  // namespace jet
