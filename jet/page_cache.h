// The writer's page cache: every page read once and kept, changes made in memory and recorded for undo.
// A statement either commits (its changed bytes go to the file, appended pages first) or rolls back (memory
// back to the state before the statement). A failed write during commit puts the file back as it was.
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
    void sync();

    FileIo& io() { return *io_; }
    std::uint64_t bytesWritten() const { return bytesWritten_; }

private:
    std::uint8_t* load(std::uint32_t n);
    void writeRange(std::uint32_t n, const std::uint8_t* data, std::size_t from, std::size_t to);

    std::unique_ptr<FileIo> io_;
    std::uint32_t encodeKey_;
    std::unique_ptr<PageCodec> codec_;
    std::vector<std::unique_ptr<std::uint8_t[]>> pages_;
    std::unordered_map<std::uint32_t, std::unique_ptr<std::uint8_t[]>> undo_;
    std::vector<std::unique_ptr<std::uint8_t[]>> spare_;  // undo buffers kept for the next statement
    void releaseUndo();
    std::vector<std::uint32_t> touched_;
    std::uint32_t committedCount_ = 0;
    bool active_ = false;
    std::uint64_t bytesWritten_ = 0;
};

}  // namespace jet
