// jet::Writer — changes an Access file (Jet 4 .mdb, ACE .accdb) in place: CREATE TABLE, INSERT, DROP TABLE and
// SELECT a1.* INTO new FROM old AS a1, each statement all or nothing; operations kept in files of their own
// (jet/rename.h, jet/writer_props.h) run the same way through change(). ALTER TABLE ADD CONSTRAINT ... FOREIGN
// KEY / DROP CONSTRAINT add and remove relationships with integrity, which every INSERT then enforces (3201),
// as it enforces the Required property of columns (3314).
//
//   auto w = jet::Writer::open(path);
//   w->execute("CREATE TABLE `T`(`a` VARCHAR,`b` DOUBLE)");
//   w->execute("INSERT INTO `T` VALUES('7', NULL)");
//   w->close();                             // fsync; also done by the destructor
//
// The writer changes pages in memory and writes the changed bytes when a statement ends; if anything fails (a
// conversion, a full page map, a disk error) the file is left exactly as it was before the statement. Between
// statements it keeps only a bounded number of pages (jet/page_cache.h), so memory does not grow with the file.
// It holds a write lock on the file for its whole life (jet/lock.h).
#pragma once

#include "convert.h"
#include "page_cache.h"
#include "sql.h"

#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

struct WriterOptions {
    std::string password;          // Jet 4 database password, checked when set in the file
    bool takeLock = true;          // tests that run two writers on purpose can switch it off
    std::unique_ptr<FileIo> io;    // optional file to use instead of opening `path` (tests: failing writes)
};

// A column of a table as the writer sees it.
struct WriterColumn {
    std::string name;
    sql::ColumnType type = sql::ColumnType::Text;
    int size = 0;  // Text: characters; Binary: bytes
    int precision = 0, scale = 0;
    bool autoNumber = false;
};

struct WriterImpl;

// The rows of the file's tables, system tables included, for the engine's operations kept in files of their own
// (jet/rename.cpp). Only valid inside Writer::change().
class RowEditor {
public:
    virtual ~RowEditor() = default;
    // The definition page of a table of the Tables container (system tables too), by name ignoring case as the
    // catalogue does; 0 when there is none. The catalogue itself (MSysObjects) is page 2.
    virtual std::uint32_t tablePage(const std::string& name) = 0;
    virtual std::uint32_t tablesContainer() = 0;  // MSysObjects.ParentId of tables
    // The code page of the file's texts in Access 97 files; 0 in later ones (UTF-16).
    virtual std::uint16_t textCodePage() = 0;
    // Column numbers by name; -1 for a column the table lacks.
    virtual int column(std::uint32_t tdefPage, std::u16string_view name) = 0;
    // Every row for which `edit` returns true is stored again from its edited cells (by column number), its
    // index entries with it. Returns the number of rows changed.
    virtual int rewrite(std::uint32_t tdefPage, const std::function<bool(std::vector<Cell>&)>& edit) = 0;
    // Throws unless the name is valid and free for a table: no object of the Tables container has it, or only
    // the table at `samePage` (a rename that changes letter case).
    virtual void requireTableName(const std::string& name, std::uint32_t samePage) = 0;
};

class Writer {
public:
    static std::unique_ptr<Writer> open(const std::string& path, WriterOptions options = {});
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Parses and runs one statement. SELECT * FROM only checks that the table exists.
    void execute(std::string_view sqlText);
    void run(const sql::Statement& statement);

    void createTable(const sql::CreateTable& ct);
    void insert(const sql::Insert& ins);
    void dropTable(const std::string& name);
    void copyTable(const std::string& source, const std::string& target);

    // User tables (type 1, Tables container, not system), in catalogue order.
    std::vector<std::string> tableNames();
    std::vector<WriterColumn> columns(const std::string& table);
    bool hasTable(const std::string& name);

    // Runs `body` as one statement, all or nothing, with the file's rows open to it.
    void change(const std::function<void(RowEditor&)>& body);

    // Statements between beginBatch() and commitBatch() reach the file together, at commitBatch(): many
    // small statements then cost one write per page instead of one per statement. Each statement still
    // succeeds or fails alone. When commitBatch() fails (a write error), the file and the writer are as
    // they were at beginBatch() and the batch's statements are lost: the caller runs them again or reports
    // them. close() writes an open batch.
    void beginBatch();
    void commitBatch();
    bool inBatch() const;
    std::size_t batchPages() const;  // pages the open batch holds in memory

    // Writes an open batch, fsyncs the file and releases the lock. Called by the destructor too.
    void close();

    PageCache& pages();
    const std::string& path() const;

    struct Token {  // only open() can make one
    private:
        friend class Writer;
        Token() = default;
    };
    explicit Writer(Token);

private:
    std::unique_ptr<WriterImpl> impl_;
};

}  // namespace jet
