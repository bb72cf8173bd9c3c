#include "db/pg_connect_failure.h"

#include <cctype>
#include <regex>
#include <vector>

namespace db {

namespace {

// Where libpq was connecting when the attempt failed, from the head of its
// message: "connection to server at "H" (A), port P failed: " or
// "connection to server on socket "S" failed: ". Empty when not named.
struct Place {
    std::string host, port, socket;
};

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string seconds(int n) { return std::to_string(n) + (n == 1 ? " second" : " seconds"); }

using Text = std::string (*)(const Place&, const std::smatch&, int timeoutSeconds);

struct Rule {
    std::regex pattern; // searched in what follows "failed: " (or the whole attempt when no place is named)
    Text text;
};

// One row per failure libpq reports in its own words; the first match wins.
const std::vector<Rule>& rules() {
    static const std::vector<Rule> table = {
        {std::regex("^(could not connect to server: )?(Connection refused|No such file or directory)"),
         [](const Place& at, const std::smatch&, int) -> std::string {
             if (!at.socket.empty())
                 return "No PostgreSQL server is listening on the local socket " + quoted(at.socket) + ".";
             if (!at.host.empty())
                 return "The server " + quoted(at.host) + " refused the connection on port " + at.port +
                        ": no PostgreSQL server is listening on that port.";
             return "The server refused the connection: no PostgreSQL server is listening on that port.";
         }},
        {std::regex("^timeout expired"),
         [](const Place& at, const std::smatch&, int timeout) -> std::string {
             if (!at.socket.empty())
                 return "The server did not answer on the local socket " + quoted(at.socket) + " within " +
                        seconds(timeout) + ".";
             if (!at.host.empty())
                 return "The server " + quoted(at.host) + " did not answer on port " + at.port + " within " +
                        seconds(timeout) + ".";
             return "The server did not answer within " + seconds(timeout) + ".";
         }},
        {std::regex("could not translate host name \"([^\"]*)\" to address: "
                    "(Name or service not known|No address associated with hostname|Name has no usable address)"),
         [](const Place&, const std::smatch& m, int) -> std::string {
             return "The host name " + quoted(m[1]) + " is unknown: no computer of that name could be found.";
         }},
        {std::regex("could not translate host name \"([^\"]*)\" to address: (.*)"),
         [](const Place&, const std::smatch& m, int) -> std::string {
             return "The host name " + quoted(m[1]) + " could not be looked up: " + m[2].str() + ".";
         }},
        {std::regex("password authentication failed for user \"([^\"]*)\""),
         [](const Place&, const std::smatch& m, int) -> std::string {
             return "Password authentication failed for the user " + quoted(m[1]) +
                    ": the user name or the password is wrong.";
         }},
        {std::regex("fe_sendauth: no password supplied"),
         [](const Place&, const std::smatch&, int) -> std::string {
             return "The server asks for a password, and none was given.";
         }},
        {std::regex("database \"([^\"]*)\" does not exist"),
         [](const Place&, const std::smatch& m, int) -> std::string {
             return "The database " + quoted(m[1]) + " does not exist on the server.";
         }},
        {std::regex("role \"([^\"]*)\" does not exist"),
         [](const Place&, const std::smatch& m, int) -> std::string {
             return "The user " + quoted(m[1]) + " does not exist on the server.";
         }},
        {std::regex("no pg_hba\\.conf entry for host \"([^\"]*)\", user \"([^\"]*)\", database \"([^\"]*)\""),
         [](const Place&, const std::smatch& m, int) -> std::string {
             return "The server does not let this computer (" + m[1].str() + ") in as the user " + quoted(m[2]) +
                    " to the database " + quoted(m[3]) + ": its pg_hba.conf has no entry for that.";
         }},
        {std::regex("invalid integer value \"([^\"]*)\" for connection option \"port\""),
         [](const Place&, const std::smatch& m, int) -> std::string {
             return "The port " + quoted(m[1]) + " is not a number.";
         }},
    };
    return table;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The last attempt of the message, its lines joined by single blanks, without
// the hint lines libpq indents with a tab ("Is the server running ...?").
std::string lastAttempt(std::string_view message) {
    std::vector<std::string_view> lines;
    while (!message.empty()) {
        const std::size_t end = message.find('\n');
        lines.push_back(message.substr(0, end));
        message = end == std::string_view::npos ? std::string_view() : message.substr(end + 1);
    }
    std::size_t first = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (startsWith(lines[i], "connection to server ") || startsWith(lines[i], "could not translate host name "))
            first = i;
    std::string joined;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (startsWith(lines[i], "\t")) continue;
        for (char c : lines[i]) {
            const bool blank = std::isspace((unsigned char)c);
            if (blank && (joined.empty() || joined.back() == ' ')) continue;
            joined += blank ? ' ' : c;
        }
        if (!joined.empty() && joined.back() != ' ') joined += ' ';
    }
    while (!joined.empty() && joined.back() == ' ') joined.pop_back();
    return joined;
}

} // namespace

std::string connectionFailureReason(std::string_view message, int timeoutSeconds) {
    const std::string attempt = lastAttempt(message);
    static const std::regex tcp("^connection to server at \"([^\"]*)\"(?: \\([^)]*\\))?, port ([^ ]+) failed: ");
    static const std::regex socket("^connection to server on socket \"([^\"]*)\" failed: ");
    Place at;
    std::string body = attempt;
    std::smatch head;
    if (std::regex_search(attempt, head, tcp)) {
        at.host = head[1];
        at.port = head[2];
        body = head.suffix();
    } else if (std::regex_search(attempt, head, socket)) {
        at.socket = head[1];
        body = head.suffix();
    }
    for (const Rule& rule : rules()) {
        std::smatch m;
        if (std::regex_search(body, m, rule.pattern)) return rule.text(at, m, timeoutSeconds);
    }
    return attempt;
}

} // namespace db
