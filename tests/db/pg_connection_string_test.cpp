// ODBC connection strings: parsing, quoting, the string the ConnectionPage
// fields make, and the libpq parameters they turn into. No server needed.

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/pg_session.h"
#include "db/postgresql.h"

namespace {

using Attrs = std::vector<db::OdbcAttribute>;

struct ParseCase {
    const char* name;
    std::string text;
    Attrs expected;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

class OdbcParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(OdbcParse, SplitsAttributes) {
    const auto& c = GetParam();
    EXPECT_EQ(db::parseOdbcConnectionString(c.text), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, OdbcParse,
    ::testing::Values(
        ParseCase{"empty", "", {}},
        ParseCase{"plain", "Server=localhost;Port=5432", {{"Server", "localhost"}, {"Port", "5432"}}},
        ParseCase{"braced_driver",
                  "Driver={PostgreSQL Unicode};Server=h",
                  {{"Driver", "PostgreSQL Unicode"}, {"Server", "h"}}},
        ParseCase{"semicolon_in_braces", "Pwd={a;b};Uid=u", {{"Pwd", "a;b"}, {"Uid", "u"}}},
        ParseCase{"equals_in_braces", "Pwd={a=b;Database=x}", {{"Pwd", "a=b;Database=x"}}},
        ParseCase{"doubled_closing_brace", "Pwd={a}}b}", {{"Pwd", "a}b"}}},
        ParseCase{"only_doubled_braces", "Pwd={}}}}}", {{"Pwd", "}}"}}},
        ParseCase{"empty_braces", "Pwd={};Uid=u", {{"Pwd", ""}, {"Uid", "u"}}},
        ParseCase{"opening_brace_inside_braces", "Pwd={{x}", {{"Pwd", "{x"}}},
        ParseCase{"brace_not_at_start_is_plain", "Pwd=a{b}c;Uid=u", {{"Pwd", "a{b}c"}, {"Uid", "u"}}},
        ParseCase{"empty_values", "Server=;Port=;Uid=", {{"Server", ""}, {"Port", ""}, {"Uid", ""}}},
        ParseCase{"value_blanks_kept", "Pwd= x ;Uid=u", {{"Pwd", " x "}, {"Uid", "u"}}},
        ParseCase{"name_blanks_trimmed", "  Server = h", {{"Server", " h"}}},
        ParseCase{"trailing_semicolon", "Server=h;", {{"Server", "h"}}},
        ParseCase{"piece_without_equals_skipped", "junk;Server=h;;", {{"Server", "h"}}},
        ParseCase{"equals_in_plain_value", "Pwd=a=b;Uid=u", {{"Pwd", "a=b"}, {"Uid", "u"}}},
        ParseCase{"blank_after_closing_brace", "Pwd={x}  ;Uid=u", {{"Pwd", "x"}, {"Uid", "u"}}},
        ParseCase{"unmended_semicolon_splits", "Pwd=a;Database=postgres;Database=db",
                  {{"Pwd", "a"}, {"Database", "postgres"}, {"Database", "db"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OdbcParseErrors, MalformedBracesAreErrors) {
    for (const char* text : {"Pwd={abc", "Pwd={a}}", "Pwd={a}b;Uid=u", "Driver={x"}) {
        EXPECT_THROW(db::parseOdbcConnectionString(text), db::Error) << text;
    }
}

TEST(OdbcAttribute, FirstOccurrenceWinsIgnoringCase) {
    const auto attrs = db::parseOdbcConnectionString("UID=first;uid=second;Pwd=;X=1");
    EXPECT_EQ(db::odbcAttribute(attrs, "Uid"), "first");
    EXPECT_EQ(db::odbcAttribute(attrs, "PWD"), "");
    EXPECT_EQ(db::odbcAttribute(attrs, "Database"), std::nullopt);
}

// Whatever a field holds, quoting it and parsing it back gives it unchanged,
// and it never brings in another attribute.
TEST(OdbcQuote, RoundTripsEveryAwkwardValue) {
    const std::vector<std::string> values = {
        "", "plain", "a;Database=postgres", "{braced}", "{", "}", "}}", "a}b", ";", "{a;b}}c", " lead", "trail ",
        "x=y", "naïve;ünïcode", "a{b", "{}}{",
    };
    for (const auto& v : values) {
        const std::string text = "Pwd=" + db::odbcQuoteValue(v) + ";Uid=after";
        const auto attrs = db::parseOdbcConnectionString(text);
        ASSERT_EQ(attrs.size(), 2u) << text;
        EXPECT_EQ(attrs[0].value, v) << text;
        EXPECT_EQ(attrs[1].value, "after") << text;
    }
}

TEST(OdbcQuote, OrdinaryValuesStayUnchanged) {
    for (const std::string v : {"", "localhost", "5432", "p@ss w0rd!", "a}b", "a{b", "x=y", " spaced "})
        EXPECT_EQ(db::odbcQuoteValue(v), v);
    EXPECT_EQ(db::odbcQuoteValue("a;b"), "{a;b}");
    EXPECT_EQ(db::odbcQuoteValue("{x}"), "{{x}}}");
    EXPECT_EQ(db::odbcQuoteValue("a;}"), "{a;}}}");
}

struct StringCase {
    const char* name;
    db::ConnectionParameters fields;
    std::string expected;
};

void PrintTo(const StringCase& c, std::ostream* os) { *os << c.name; }

class ConnectionStringForms : public ::testing::TestWithParam<StringCase> {};

TEST_P(ConnectionStringForms, BuildsTheDriverString) {
    EXPECT_EQ(db::PostgreSQLConnectionString(GetParam().fields), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ConnectionStringForms,
    ::testing::Values(
        StringCase{"ordinary",
                   {"localhost", "5432", "postgres", "secret", "mydb", "C:\\a.mdb", "x"},
                   "Driver={PostgreSQL Unicode};Server=localhost;Port=5432;Uid=postgres;Pwd=secret;Database=mydb"},
        StringCase{"all_empty", {}, "Driver={PostgreSQL Unicode};Server=;Port=;Uid=;Pwd=;Database="},
        StringCase{"empty_password",
                   {"h", "1", "u", "", "d", "", ""},
                   "Driver={PostgreSQL Unicode};Server=h;Port=1;Uid=u;Pwd=;Database=d"},
        StringCase{"blanks_kept",
                   {" h ", " 5432", "u ", " p w ", "d d", "", ""},
                   "Driver={PostgreSQL Unicode};Server= h ;Port= 5432;Uid=u ;Pwd= p w ;Database=d d"},
        StringCase{"semicolon_password_braced",
                   {"h", "5432", "u", "a;Database=postgres", "mine", "", ""},
                   "Driver={PostgreSQL Unicode};Server=h;Port=5432;Uid=u;Pwd={a;Database=postgres};Database=mine"},
        StringCase{"brace_start_password_braced",
                   {"h", "5432", "u", "{x}y", "d", "", ""},
                   "Driver={PostgreSQL Unicode};Server=h;Port=5432;Uid=u;Pwd={{x}}y};Database=d"},
        StringCase{"inner_braces_unchanged",
                   {"h", "5432", "u", "a{b}c", "d", "", ""},
                   "Driver={PostgreSQL Unicode};Server=h;Port=5432;Uid=u;Pwd=a{b}c;Database=d"},
        StringCase{"every_field_awkward",
                   {"h;x", "{1}", "u;", ";", "d}}", "", ""},
                   "Driver={PostgreSQL Unicode};Server={h;x};Port={{1}}};Uid={u;};Pwd={;};Database=d}}"}),
    [](const auto& info) { return std::string(info.param.name); });

using Params = std::map<std::string, std::string>;

Params paramsOf(const std::string& text) {
    Params out;
    for (const auto& [k, v] : db::pgConnectParameters(text)) {
        EXPECT_FALSE(out.count(k)) << "duplicate libpq keyword " << k;
        out[k] = v;
    }
    return out;
}

TEST(PgConnectParameters, MapsTheFiveFieldsAndFixedSettings) {
    const Params p = paramsOf(db::PostgreSQLConnectionString({"db.example", "6543", "ann", "a;Database=postgres", "sales", "", ""}));
    EXPECT_EQ(p, (Params{{"host", "db.example"},
                         {"port", "6543"},
                         {"user", "ann"},
                         {"password", "a;Database=postgres"},
                         {"dbname", "sales"},
                         {"application_name", "Quillmere"},
                         {"client_encoding", "UTF8"},
                         {"connect_timeout", "10"}}));
}

TEST(PgConnectParameters, EmptyFieldsAreLeftToLibpqDefaults) {
    struct Case {
        db::ConnectionParameters fields;
        std::vector<std::string> present;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{"h", "", "", "", "", "", ""}, {"host"}},
        {{"", "1", "", "", "", "", ""}, {"port"}},
        {{"", "", "u", "", "", "", ""}, {"user"}},
        {{"", "", "", "p", "", "", ""}, {"password"}},
        {{"", "", "", "", "d", "", ""}, {"dbname"}},
        {{"h", "", "u", "", "d", "", ""}, {"host", "user", "dbname"}},
    };
    for (const auto& c : cases) {
        const Params p = paramsOf(db::PostgreSQLConnectionString(c.fields));
        for (const char* k : {"host", "port", "user", "password", "dbname"}) {
            const bool wanted = std::find(c.present.begin(), c.present.end(), k) != c.present.end();
            EXPECT_EQ(p.count(k) == 1, wanted) << k << " in " << db::PostgreSQLConnectionString(c.fields);
        }
        EXPECT_EQ(p.at("application_name"), "Quillmere");
    }
}

TEST(PgConnectParameters, AttributeNamesIgnoreCaseAndFirstWins) {
    const Params p = paramsOf("DRIVER={PostgreSQL Unicode};SERVER=a;server=b;PWD={x;y};database=d;Database=e");
    EXPECT_EQ(p.at("host"), "a");
    EXPECT_EQ(p.at("password"), "x;y");
    EXPECT_EQ(p.at("dbname"), "d");
}

TEST(PgConnectParameters, UnmendedStringWouldLoseThePassword) {
    // What the fields would have made without braces: the password is cut at ';'.
    const Params p = paramsOf("Driver={PostgreSQL Unicode};Server=h;Port=1;Uid=u;Pwd=a;Database=postgres;Database=mine");
    EXPECT_EQ(p.at("password"), "a");
    EXPECT_EQ(p.at("dbname"), "postgres");
}

TEST(PgConnectParameters, OtherDriversAreRefused) {
    for (const char* text : {"Driver={SQL Server};Server=h", "Server=h;Port=1", "Driver=;Server=h"}) {
        try {
            db::pgConnectParameters(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const db::Error& e) {
            EXPECT_NE(e.description().find("driver"), std::string::npos) << e.description();
        }
    }
    EXPECT_NO_THROW(db::pgConnectParameters("Driver={PostgreSQL ANSI};Server=h"));
}

} // namespace
