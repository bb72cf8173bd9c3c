#include "transfer/names.h"

#include "db/error.h"

namespace transfer {

namespace {

// Characters of a UTF-8 text (code points), for the length limit.
std::size_t characterCount(const std::string& text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

} // namespace

std::string quotePostgresName(const std::string& name) {
    std::string quoted;
    quoted.reserve(name.size() + 2);
    quoted += '"';
    for (char c : name) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string accessNameProblem(const std::string& name) {
    if (name.empty()) return "it is empty";
    if (characterCount(name) > 64) return "it is longer than 64 characters";
    if (name.front() == ' ') return "it begins with a blank";
    for (unsigned char c : name) {
        switch (c) {
        case '.': return "it contains a period (.)";
        case '!': return "it contains an exclamation mark (!)";
        case '`': return "it contains a back-quote (`)";
        case '[':
        case ']': return "it contains a bracket ([ or ])";
        default:
            if (c < 32) return "it contains a control character";
        }
    }
    return {};
}

void requireAccessName(const std::string& name, const char* what) {
    const std::string problem = accessNameProblem(name);
    if (!problem.empty())
        throw db::Error(3125, "'" + name + "' cannot be used as an Access " + what + " name: " + problem + ".");
}

std::string quoteAccessName(const std::string& name, const char* what) {
    requireAccessName(name, what);
    return "`" + name + "`";
}

} // namespace transfer
