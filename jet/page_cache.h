// The writer's page cache: pages read on demand, changes made in memory and recorded for undo.
// A statement either commits (its changed bytes go to the file, appended pages first) or rolls back (memory
// back to the state before the statement). A failed write during commit puts the file back as it was.
// Between statements every page in memory equals the file, so the cache then gives back the pages used least
// recently until no more than budget() stay; they are read (and decoded) again when wanted. Pages a statement
// uses stay in memory until it ends: a span from page() is valid until the next begin(), commit() or
// rollback().
#pragma once

#include "page_source.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace jet {

// The file underneath the cache. Tests substitute one that fails on purpose.
class FileIo {
public:
    virtual ~FileIo() = default;
    virtual std::uint64_t size() = 0;
    virtual void read(std::uint64_t offset, std::uint8_t* data, std::size_t size) = 0;
    virtual void write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
    virtual void truncate(std::uint64_t size) = 0;
    virtual void sync() = 0;
    virtual int fd() const { return -1; }  // for locking; -1 when there is no descriptor
};

// A POSIX file opened for reading and writing (or only reading). Errors: 3024 missing, 3051 no permission.
std::unique_ptr<FileIo> openPosixFile(const std::string& path, bool writable = true);

// Page encoder/decoder for RC4-"encoded" Jet 4 files (key = database key XOR page number).
void rc4Apply(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t size);

class PageCache final : public PageSource {
public:
    // `encodeKey` != 0: pages >= 1 are RC4-encoded with LE32(encodeKey ^ n).
    PageCache(std::unique_ptr<FileIo> io, std::uint32_t pageSize, std::string path, std::uint32_t encodeKey = 0);
    // Encrypted .accdb (jet/codec.h): pages >= 1 are decoded on load and encoded, whole, when written.
    void setCodec(std::unique_ptr<PageCodec> codec) { codec_ = std::move(codec); }
    ~PageCache() override;

    std::span<const std::uint8_t> page(std::uint32_t n) override;
    // The page for changing; records the original for undo on first change in a statement.
    std::uint8_t* modify(std::uint32_t n);
    // Appends a zero-filled page and returns its number (the file grows only at commit).
    std::uint32_t append();

    void begin();     // start of a statement
    void commit();    // writes the statement's changes; on a write failure restores the file and throws 3043
    void rollback();  // forgets the statement's changes
    bool inStatement() const { return active_; }

    // A group of statements written together: inside a group a statement that ends keeps its changes in
    // memory (pinned, never given back), and commitGroup() writes what the whole group changed, in the same
    // order and with the same restore-on-failure as a single statement. A statement that fails inside the
    // group still rolls back alone. On a failed write the file and memory go back to the group's start.
    void beginGroup();
    void commitGroup();
    void rollbackGroup();
    bool inGroup() const { return grouped_; }
    // Pages the open group changed or added, all held in memory until it is written.
    std::size_t groupPages() const { return grouped_ ? groupUndo_.size() + (pageCount_ - groupCount_) : 0; }
    void sync();

    FileIo& io() { return *io_; }
    std::uint64_t bytesWritten() const { return bytesWritten_; }

    // Pages kept in memory between statements (pages 0, 1 and 2 always stay). 16384 pages of 4 KiB = 64 MiB.
    static constexpr std::size_t kDefaultBudget = 16384;
    void setBudget(std::size_t pages);
    std::size_t budget() const { return budget_; }
    std::size_t residentPages() const { return frames_.size(); }
    std::uint64_t pagesRead() const { return pagesRead_; }  // reads from the file, first or again

private:
    struct Frame {
        std::unique_ptr<std::uint8_t[]> data;
        std::uint32_t page = 0;
        std::uint64_t lastUse = 0;
    };

    std::uint8_t* load(std::uint32_t n);
    std::uint8_t* resident(std::uint32_t n) const;
    std::unique_ptr<std::uint8_t[]> takeBuffer();
    void giveBack(std::unique_ptr<std::uint8_t[]> buffer);
    void drop(std::size_t frame);
    void trim();
    void writeRange(std::uint32_t n, const std::uint8_t* data, std::size_t from, std::size_t to);
    using Images = std::unordered_map<std::uint32_t, std::unique_ptr<std::uint8_t[]>>;
    // Writes pages from `firstNew` on, then the changed parts of `touched` (against `before`); on a failure
    // puts the file back and rethrows (memory is the caller's to restore).
    void writeOut(std::uint32_t firstNew, std::vector<std::uint32_t>& touched, const Images& before);
    bool pinned(std::uint32_t n) const;

    std::unique_ptr<FileIo> io_;
    std::uint32_t encodeKey_;
    std::unique_ptr<PageCodec> codec_;
    std::vector<Frame> frames_;            // pages in memory, in no particular order
    std::vector<std::uint32_t> frameOf_;   // page number -> index in frames_ + 1, 0 when not in memory
    std::uint64_t clock_ = 0;              // use counter for lastUse
    std::size_t budget_ = kDefaultBudget;
    bool keepAll_ = false;                 // the file could not be put back after a failed commit: memory is
                                           // the only good copy, nothing is given back any more
    std::uint64_t pagesRead_ = 0;
    Images undo_;
    std::vector<std::unique_ptr<std::uint8_t[]>> spare_;  // buffers kept for reuse (undo copies, pages)
    void releaseUndo();
    std::vector<std::uint32_t> touched_;
    std::uint32_t committedCount_ = 0;
    bool active_ = false;
    std::uint64_t bytesWritten_ = 0;
    bool grouped_ = false;
    std::uint32_t groupCount_ = 0;              // pages in the file when the group began
    Images groupUndo_;                          // each page changed in the group, as the file still has it
    std::vector<std::uint32_t> groupTouched_;
};

}  // namespace jet
