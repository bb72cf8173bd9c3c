#include "sql.h"

#include "writer_error.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace jet::sql {

const char* columnTypeName(ColumnType t)
{
    switch (t) {
    case ColumnType::Boolean: return "Yes/No";
    case ColumnType::Byte: return "Byte";
    case ColumnType::Integer: return "Integer";
    case ColumnType::Long: return "Long Integer";
    case ColumnType::Currency: return "Currency";
    case ColumnType::Single: return "Single";
    case ColumnType::Double: return "Double";
    case ColumnType::DateTime: return "Date/Time";
    case ColumnType::Binary: return "Binary";
    case ColumnType::Text: return "Text";
    case ColumnType::Ole: return "OLE Object";
    case ColumnType::Memo: return "Memo";
    case ColumnType::Guid: return "Replication ID";
    case ColumnType::Decimal: return "Decimal";
    case ColumnType::BigInt: return "Large Number";
    case ColumnType::DateTimeExt: return "Date/Time Extended";
    }
    return "?";
}

namespace {

enum class Tok { End, Word, QuotedName, String, Number, Binary, LParen, RParen, Comma, Semicolon, Star, Dot };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // word (as written), name, string contents, number text, or hex digits
    std::string key;   // words: upper case, for comparing keywords
    std::size_t pos = 0;  // 1-based
};

// The C locale's white space, without a library call per character.
bool isBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The C locale's letters and digits, compared directly: these run for every character of a statement.
bool isAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
bool isAsciiDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isWordStart(unsigned char c) { return isAsciiLetter(c) || c == '_' || c >= 0x80; }
bool isWordChar(unsigned char c) { return isAsciiLetter(c) || isAsciiDigit(c) || c == '_' || c >= 0x80 || c == '$'; }

std::string upper(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return r;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) { tokenize(); }

    Statement statement()
    {
        const Token& t = peek();
        if (t.kind != Tok::Word)
            fail(err::InvalidStatement, "expected CREATE, INSERT, DROP, ALTER or SELECT");
        const std::string& w = t.key;
        if (w == "CREATE") {
            errNo_ = err::SyntaxCreate;
            what_ = "CREATE TABLE statement";
            return create();
        }
        if (w == "INSERT") {
            errNo_ = err::SyntaxInsert;
            what_ = "INSERT INTO statement";
            return insert();
        }
        if (w == "DROP") {
            errNo_ = err::SyntaxDrop;
            what_ = "DROP TABLE statement";
            return drop();
        }
        if (w == "ALTER") {
            errNo_ = err::SyntaxAlter;
            what_ = "ALTER TABLE statement";
            return alter();
        }
        if (w == "SELECT") {
            errNo_ = err::SyntaxSelect;
            what_ = "SELECT statement";
            return select();
        }
        fail(err::InvalidStatement, "expected CREATE, INSERT, DROP, ALTER or SELECT");
    }

private:
    [[noreturn]] void fail(int number, const std::string& msg) const
    {
        const Token& t = toks_[std::min(at_, toks_.size() - 1)];
        std::string where = t.kind == Tok::End ? "at the end of the statement"
                                               : "at position " + std::to_string(t.pos);
        throwError(number, std::string(number == err::InvalidStatement ? "Invalid SQL statement"
                                                                        : "Syntax error in " + what_) +
                               " " + where + ": " + msg + ".");
    }
    [[noreturn]] void fail(const std::string& msg) const { fail(errNo_, msg); }
    [[noreturn]] void failAt(std::size_t pos, const std::string& msg) const
    {
        throwError(errNo_, "Syntax error in " + what_ + " at position " + std::to_string(pos) + ": " + msg + ".");
    }

    [[noreturn]] void lexFail(std::size_t pos, const std::string& msg) const
    {
        throwError(err::InvalidStatement,
                   "Syntax error at position " + std::to_string(pos + 1) + ": " + msg + ".");
    }

    void tokenize()
    {
        // About one token per four characters in an INSERT; growing the vector costs more than guessing high.
        toks_.reserve(text_.size() / 4 + 8);
        std::size_t i = 0;
        const std::size_t n = text_.size();
        while (true) {
            while (i < n && isBlank(static_cast<unsigned char>(text_[i])))
                ++i;
            Token t;
            t.pos = i + 1;
            if (i >= n) {
                toks_.push_back(t);
                return;
            }
            const auto c = static_cast<unsigned char>(text_[i]);
            if (c == '`' || c == '[') {
                const char close = c == '`' ? '`' : ']';
                std::size_t j = text_.find(close, i + 1);
                if (j == std::string_view::npos)
                    lexFail(i, c == '`' ? "unterminated `name`" : "unterminated [name]");
                t.kind = Tok::QuotedName;
                t.text = std::string(text_.substr(i + 1, j - i - 1));
                i = j + 1;
            } else if (c == '\'') {
                // Copied a run at a time up to each quote; a doubled quote stands for one.
                std::string s;
                std::size_t j = i + 1;
                bool closed = false;
                while (j < n) {
                    const std::size_t q = text_.find('\'', j);
                    if (q == std::string_view::npos)
                        break;
                    s.append(text_.substr(j, q - j));
                    if (q + 1 < n && text_[q + 1] == '\'') {
                        s.push_back('\'');
                        j = q + 2;
                        continue;
                    }
                    j = q;
                    closed = true;
                    break;
                }
                if (!closed)
                    lexFail(i, "unterminated text literal");
                t.kind = Tok::String;
                t.text = std::move(s);
                i = j + 1;
            } else if (c == '0' && i + 1 < n && (text_[i + 1] == 'x' || text_[i + 1] == 'X')) {
                std::size_t j = i + 2;
                while (j < n && std::isxdigit(static_cast<unsigned char>(text_[j])))
                    ++j;
                if (j < n && isWordChar(static_cast<unsigned char>(text_[j])))
                    lexFail(j, "bad character in binary literal");
                if ((j - i - 2) % 2 != 0)
                    lexFail(i, "binary literal with an odd number of hex digits");
                t.kind = Tok::Binary;
                t.text = std::string(text_.substr(i + 2, j - i - 2));
                i = j;
            } else if (isAsciiDigit(c) || ((c == '-' || c == '+' || c == '.') && i + 1 < n &&
                                            (isAsciiDigit(static_cast<unsigned char>(text_[i + 1])) ||
                                             (text_[i + 1] == '.' && c != '.')))) {
                std::size_t j = i;
                if (text_[j] == '-' || text_[j] == '+')
                    ++j;
                bool digits = false;
                while (j < n && isAsciiDigit(static_cast<unsigned char>(text_[j]))) {
                    ++j;
                    digits = true;
                }
                if (j < n && text_[j] == '.') {
                    ++j;
                    while (j < n && isAsciiDigit(static_cast<unsigned char>(text_[j]))) {
                        ++j;
                        digits = true;
                    }
                }
                if (!digits)
                    lexFail(i, "malformed number");
                if (j < n && (text_[j] == 'e' || text_[j] == 'E')) {
                    std::size_t k = j + 1;
                    if (k < n && (text_[k] == '+' || text_[k] == '-'))
                        ++k;
                    if (k >= n || !isAsciiDigit(static_cast<unsigned char>(text_[k])))
                        lexFail(j, "malformed exponent");
                    while (k < n && isAsciiDigit(static_cast<unsigned char>(text_[k])))
                        ++k;
                    j = k;
                }
                if (j < n && isWordChar(static_cast<unsigned char>(text_[j])))
                    lexFail(j, "unexpected character after a number");
                t.kind = Tok::Number;
                t.text = std::string(text_.substr(i, j - i));
                i = j;
            } else if (isWordStart(c)) {
                std::size_t j = i;
                while (j < n && isWordChar(static_cast<unsigned char>(text_[j])))
                    ++j;
                t.kind = Tok::Word;
                t.text = std::string(text_.substr(i, j - i));
                t.key = upper(t.text);
                i = j;
            } else {
                switch (c) {
                case '(': t.kind = Tok::LParen; break;
                case ')': t.kind = Tok::RParen; break;
                case ',': t.kind = Tok::Comma; break;
                case ';': t.kind = Tok::Semicolon; break;
                case '*': t.kind = Tok::Star; break;
                case '.': t.kind = Tok::Dot; break;
                default: lexFail(i, std::string("unexpected character '") + static_cast<char>(c) + "'");
                }
                t.text = std::string(1, static_cast<char>(c));
                ++i;
            }
            toks_.push_back(std::move(t));
        }
    }

    const Token& peek(std::size_t ahead = 0) const { return toks_[std::min(at_ + ahead, toks_.size() - 1)]; }
    const Token& next()
    {
        const Token& t = peek();
        if (at_ < toks_.size() - 1)
            ++at_;
        return t;
    }
    bool isWord(const char* w, std::size_t ahead = 0) const
    {
        const Token& t = peek(ahead);
        return t.kind == Tok::Word && t.key == w;
    }
    void expectWord(const char* w)
    {
        if (!isWord(w))
            fail(std::string("expected ") + w);
        next();
    }
    void expect(Tok k, const char* what)
    {
        if (peek().kind != k)
            fail(std::string("expected ") + what);
        next();
    }
    bool accept(Tok k)
    {
        if (peek().kind != k)
            return false;
        next();
        return true;
    }

    std::string name(const char* what)
    {
        const Token& t = peek();
        if (t.kind == Tok::QuotedName) {
            if (t.text.empty())
                fail(std::string("empty ") + what);
            return next().text;
        }
        if (t.kind == Tok::Word)
            return next().text;
        fail(std::string("expected ") + what);
    }

    void end()
    {
        accept(Tok::Semicolon);
        if (peek().kind != Tok::End)
            fail("unexpected text after the end of the statement");
    }

    int smallInt(const char* what)
    {
        const Token& t = peek();
        if (t.kind != Tok::Number || t.text.find_first_not_of("0123456789") != std::string::npos ||
            t.text.size() > 6)
            fail(std::string("expected ") + what);
        return std::stoi(next().text);
    }

    Statement create()
    {
        next();
        if (isWord("INDEX") || (isWord("UNIQUE") && isWord("INDEX", 1)))
            return createIndex();
        expectWord("TABLE");
        CreateTable ct;
        ct.table = name("table name");
        expect(Tok::LParen, "'('");
        while (true) {
            if (isWord("PRIMARY") || isWord("UNIQUE") || isWord("CONSTRAINT"))
                ct.constraints.push_back(tableConstraint());
            else
                ct.columns.push_back(column(ct.constraints));
            if (accept(Tok::Comma))
                continue;
            expect(Tok::RParen, "',' or ')'");
            break;
        }
        end();
        return ct;
    }

    // [CONSTRAINT name] PRIMARY KEY | UNIQUE, after CONSTRAINT or at PRIMARY / UNIQUE.
    KeyConstraint keyKind()
    {
        KeyConstraint k;
        if (isWord("CONSTRAINT")) {
            next();
            k.name = name("constraint name");
        }
        if (isWord("PRIMARY")) {
            next();
            expectWord("KEY");
            k.primary = true;
        } else if (isWord("UNIQUE")) {
            next();
        } else {
            fail("expected PRIMARY KEY or UNIQUE");
        }
        return k;
    }

    KeyConstraint tableConstraint()
    {
        KeyConstraint k = keyKind();
        k.columns = indexColumns(false);
        return k;
    }

    // (col [ASC|DESC], ...); `ordered`: ASC / DESC allowed.
    std::vector<IndexColumn> indexColumns(bool ordered)
    {
        std::vector<IndexColumn> cols;
        expect(Tok::LParen, "'('");
        while (true) {
            IndexColumn c;
            c.name = name("column name");
            if (ordered && (isWord("ASC") || isWord("DESC")))
                c.ascending = next().key == "ASC";
            cols.push_back(std::move(c));
            if (accept(Tok::Comma))
                continue;
            expect(Tok::RParen, "',' or ')'");
            return cols;
        }
    }

    Statement createIndex()
    {
        what_ = "CREATE INDEX statement";
        CreateIndex ci;
        if (isWord("UNIQUE")) {
            next();
            ci.unique = true;
        }
        expectWord("INDEX");
        ci.name = name("index name");
        expectWord("ON");
        ci.table = name("table name");
        ci.columns = indexColumns(true);
        if (isWord("WITH")) {
            next();
            if (isWord("PRIMARY")) {
                next();
                ci.primary = true;
            } else if (isWord("DISALLOW")) {
                next();
                expectWord("NULL");
                ci.disallowNull = true;
            } else if (isWord("IGNORE")) {
                next();
                expectWord("NULL");
                ci.ignoreNull = true;
            } else {
                fail("expected PRIMARY, DISALLOW NULL or IGNORE NULL");
            }
        }
        end();
        return ci;
    }

    ColumnDef column(std::vector<KeyConstraint>& constraints)
    {
        ColumnDef c;
        c.name = name("column name");
        const Token& tt = peek();
        if (tt.kind != Tok::Word)
            fail("expected a data type");
        const std::size_t typePos = tt.pos;
        const std::string w = next().key;
        bool sized = false, decimal = false;
        if (w == "TEXT" || w == "VARCHAR" || w == "CHAR" || w == "CHARACTER" || w == "NVARCHAR" ||
            w == "NCHAR") {
            c.type = ColumnType::Text;
            c.size = 255;
            sized = true;
        } else if (w == "MEMO" || w == "LONGTEXT" || w == "LONGCHAR" || w == "NOTE" || w == "NTEXT") {
            c.type = ColumnType::Memo;
        } else if (w == "BYTE" || w == "TINYINT") {
            c.type = ColumnType::Byte;
        } else if (w == "SMALLINT" || w == "SHORT" || w == "INTEGER2") {
            c.type = ColumnType::Integer;
        } else if (w == "INT" || w == "INTEGER" || w == "LONG" || w == "INTEGER4") {
            c.type = ColumnType::Long;
        } else if (w == "BIGINT") {
            c.type = ColumnType::BigInt;
        } else if (w == "REAL" || w == "SINGLE" || w == "FLOAT4" || w == "IEEESINGLE") {
            c.type = ColumnType::Single;
        } else if (w == "FLOAT" || w == "DOUBLE" || w == "FLOAT8" || w == "IEEEDOUBLE" || w == "NUMBER") {
            c.type = ColumnType::Double;
            if (w == "DOUBLE" && isWord("PRECISION"))
                next();
        } else if (w == "DECIMAL" || w == "NUMERIC" || w == "DEC") {
            c.type = ColumnType::Decimal;
            c.precision = 18;
            c.scale = 0;
            decimal = true;
        } else if (w == "CURRENCY" || w == "MONEY") {
            c.type = ColumnType::Currency;
        } else if (w == "DATETIME" || w == "DATE" || w == "TIME" || w == "TIMESTAMP") {
            c.type = ColumnType::DateTime;
        } else if (w == "DATETIME2" || w == "DATETIMEEXTENDED") {
            c.type = ColumnType::DateTimeExt;
        } else if (w == "BIT" || w == "YESNO" || w == "LOGICAL" || w == "LOGICAL1" || w == "BOOLEAN") {
            c.type = ColumnType::Boolean;
        } else if (w == "OLEOBJECT" || w == "LONGBINARY" || w == "GENERAL" || w == "IMAGE") {
            c.type = ColumnType::Ole;
        } else if (w == "BINARY" || w == "VARBINARY") {
            c.type = ColumnType::Binary;
            c.size = 255;
            sized = true;
        } else if (w == "GUID" || w == "UNIQUEIDENTIFIER") {
            c.type = ColumnType::Guid;
        } else if (w == "COUNTER" || w == "AUTOINCREMENT" || w == "IDENTITY") {
            c.type = ColumnType::Long;
            c.autoNumber = true;
            if (peek().kind == Tok::LParen) {  // COUNTER(seed, increment): accepted only as (1,1)
                next();
                const int seed = smallInt("a seed");
                expect(Tok::Comma, "','");
                const int inc = smallInt("an increment");
                if (seed != 1 || inc != 1)
                    failAt(typePos, "only COUNTER(1,1) is supported");
                expect(Tok::RParen, "')'");
            }
        } else {
            failAt(typePos, "unknown data type '" + w + "'");
        }
        if ((sized || decimal) && peek().kind == Tok::LParen) {
            next();
            const std::size_t p = peek().pos;
            const int a = smallInt(decimal ? "a precision" : "a size");
            if (decimal) {
                if (a < 1 || a > 28)
                    failAt(p, "precision must be 1 to 28");
                c.precision = a;
                if (accept(Tok::Comma)) {
                    const std::size_t q = peek().pos;
                    const int s = smallInt("a scale");
                    if (s > a)
                        failAt(q, "scale must not exceed the precision");
                    c.scale = s;
                }
            } else {
                const int most = c.type == ColumnType::Binary ? 510 : 255;
                if (a < 1 || a > most)
                    failAt(p, "size must be 1 to " + std::to_string(most));
                c.size = a;
            }
            expect(Tok::RParen, "')'");
        }
        while (true) {
            if (isWord("NOT")) {
                next();
                expectWord("NULL");
                c.notNull = true;
            } else if (isWord("NULL")) {
                next();
            } else if (isWord("DEFAULT")) {
                next();
                c.defaultValue = defaultExpression();
            } else if (isWord("PRIMARY") || isWord("UNIQUE") || isWord("CONSTRAINT")) {
                KeyConstraint k = keyKind();
                k.columnLevel = true;
                k.columns.push_back({c.name, true});
                constraints.push_back(std::move(k));
            } else {
                return c;
            }
        }
    }

    // A column's DEFAULT as Access writes it in the DefaultValue property: a number, a quoted text ("" inside
    // doubled), Yes / No, or Now(), Date() or Time().
    std::string defaultExpression()
    {
        const Token& t = peek();
        if (t.kind == Tok::Word) {
            const std::string key = t.key;
            if (key == "TRUE" || key == "YES" || key == "FALSE" || key == "NO") {
                next();
                return key == "TRUE" || key == "YES" ? "Yes" : "No";
            }
            if (key == "NOW" || key == "DATE" || key == "TIME") {
                next();
                expect(Tok::LParen, "'('");
                expect(Tok::RParen, "')'");
                return key == "NOW" ? "Now()" : key == "DATE" ? "Date()" : "Time()";
            }
        }
        if (t.kind == Tok::String) {
            std::string out = "\"";
            for (char ch : next().text) {
                out.push_back(ch);
                if (ch == '"')
                    out.push_back('"');
            }
            return out + "\"";
        }
        if (t.kind == Tok::Number)
            return next().text;
        fail("expected a default value (a number, text, TRUE, FALSE, NOW(), DATE() or TIME())");
    }

    Literal literal()
    {
        const Token& t = peek();
        Literal l;
        l.position = t.pos;
        switch (t.kind) {
        case Tok::String:
            l.kind = Literal::Kind::Text;
            l.text = std::move(toks_[at_].text);  // each token is read once
            next();
            return l;
        case Tok::Number:
            l.kind = Literal::Kind::Number;
            l.text = std::move(toks_[at_].text);
            next();
            return l;
        case Tok::Binary: {
            l.kind = Literal::Kind::Binary;
            const std::string hex = next().text;
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
                l.bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
            return l;
        }
        case Tok::Word:
            if (t.key == "NULL") {
                next();
                return l;
            }
            if (t.key == "TRUE" || t.key == "FALSE" || t.key == "YES" || t.key == "NO") {
                l.kind = Literal::Kind::Number;
                l.text = (t.key == "TRUE" || t.key == "YES") ? "-1" : "0";
                next();
                return l;
            }
            break;
        default: break;
        }
        fail("expected a value (text, number, NULL or 0x...)");
    }

    Statement insert()
    {
        next();
        expectWord("INTO");
        Insert ins;
        ins.table = name("table name");
        if (accept(Tok::LParen)) {
            while (true) {
                ins.columns.push_back(name("column name"));
                if (accept(Tok::Comma))
                    continue;
                expect(Tok::RParen, "',' or ')'");
                break;
            }
        }
        expectWord("VALUES");
        expect(Tok::LParen, "'('");
        ins.values.reserve(ins.columns.empty() ? 16 : ins.columns.size());
        while (true) {
            ins.values.push_back(literal());
            if (accept(Tok::Comma))
                continue;
            expect(Tok::RParen, "',' or ')'");
            break;
        }
        end();
        return ins;
    }

    Statement drop()
    {
        next();
        if (isWord("INDEX")) {
            next();
            what_ = "DROP INDEX statement";
            DropIndex d;
            d.name = name("index name");
            expectWord("ON");
            d.table = name("table name");
            end();
            return d;
        }
        expectWord("TABLE");
        DropTable d;
        d.table = name("table name");
        end();
        return d;
    }

    std::vector<std::string> nameList(const char* what)
    {
        expect(Tok::LParen, "'('");
        std::vector<std::string> names;
        do
            names.push_back(name(what));
        while (accept(Tok::Comma));
        expect(Tok::RParen, "',' or ')'");
        return names;
    }

    Statement alter()
    {
        next();
        expectWord("TABLE");
        std::string table = name("table name");
        if (isWord("DROP")) {
            next();
            expectWord("CONSTRAINT");
            DropConstraint d{std::move(table), name("constraint name")};
            end();
            return d;
        }
        expectWord("ADD");
        expectWord("CONSTRAINT");
        AddForeignKey fk;
        fk.table = std::move(table);
        fk.name = name("constraint name");
        expectWord("FOREIGN");
        expectWord("KEY");
        fk.columns = nameList("column name");
        expectWord("REFERENCES");
        fk.referencedTable = name("table name");
        const std::size_t refPos = peek().pos;
        fk.referencedColumns = nameList("column name");
        if (fk.referencedColumns.size() != fk.columns.size())
            failAt(refPos, "the referenced columns must be as many as the foreign key's");
        bool seenUpdate = false, seenDelete = false;
        while (isWord("ON")) {
            next();
            const bool update = isWord("UPDATE");
            if (!update && !isWord("DELETE"))
                fail("expected UPDATE or DELETE");
            if (update ? seenUpdate : seenDelete)
                fail(std::string("ON ") + (update ? "UPDATE" : "DELETE") + " given twice");
            (update ? seenUpdate : seenDelete) = true;
            next();
            if (isWord("CASCADE")) {
                next();
                (update ? fk.cascadeUpdates : fk.cascadeDeletes) = true;
            } else if (!update && isWord("SET")) {
                next();
                expectWord("NULL");
                fk.cascadeSetNull = true;
            } else if (isWord("NO")) {
                next();
                expectWord("ACTION");
            } else {
                fail(update ? "expected CASCADE or NO ACTION" : "expected CASCADE, SET NULL or NO ACTION");
            }
        }
        end();
        return fk;
    }

    Statement select()
    {
        next();
        std::optional<std::string> alias;
        if (peek().kind != Tok::Star) {
            alias = name("'*' or alias.*");
            expect(Tok::Dot, "'.'");
        }
        expect(Tok::Star, "'*'");
        std::optional<std::string> into;
        if (isWord("INTO")) {
            next();
            into = name("table name");
        }
        expectWord("FROM");
        std::string source = name("table name");
        if (isWord("AS")) {
            next();
            const std::size_t p = peek().pos;
            std::string a = name("alias");
            if (!alias || upper(*alias) != upper(a))
                failAt(p, "alias '" + a + "' is not the one selected");
            alias.reset();
        } else if (peek().kind == Tok::Word || peek().kind == Tok::QuotedName) {
            const std::size_t p = peek().pos;
            std::string a = name("alias");
            if (!alias || upper(*alias) != upper(a))
                failAt(p, "alias '" + a + "' is not the one selected");
            alias.reset();
        }
        if (alias && upper(*alias) != upper(source))
            fail("'" + *alias + "' is neither the table nor its alias");
        end();
        if (into)
            return SelectInto{*into, source};
        return SelectAll{source};
    }

    std::string_view text_;
    std::vector<Token> toks_;
    std::size_t at_ = 0;
    int errNo_ = err::InvalidStatement;
    std::string what_ = "statement";
};

}  // namespace

Statement parse(std::string_view text)
{
    Parser p(text);
    return p.statement();
}

std::vector<std::string_view> splitScriptViews(std::string_view script)
{
    std::vector<std::string_view> out;
    auto keep = [&](std::size_t from, std::size_t to) {
        const std::string_view piece = script.substr(from, to - from);
        if (piece.find_first_not_of(" \t\r\n") != std::string_view::npos)
            out.push_back(piece);
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i < script.size(); ++i) {
        const char c = script[i];
        if (c == ';') {
            keep(start, i);
            start = i + 1;
            continue;
        }
        if (c != '\'' && c != '`' && c != '[')
            continue;
        // Quoted text or a quoted name runs to its closing character ('' inside text stands for a quote).
        const char close = c == '[' ? ']' : c;
        std::size_t j = i + 1;
        for (;;) {
            j = script.find(close, j);
            if (j == std::string_view::npos || close != '\'' || j + 1 >= script.size() || script[j + 1] != '\'')
                break;
            j += 2;
        }
        if (j == std::string_view::npos)
            break;  // unterminated: the rest is one piece
        i = j;
    }
    keep(start, script.size());
    return out;
}

std::vector<std::string> splitScript(std::string_view script)
{
    const std::vector<std::string_view> pieces = splitScriptViews(script);
    return {pieces.begin(), pieces.end()};
}

}  // namespace jet::sql
