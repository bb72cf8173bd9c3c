#pragma once
// Page I/O. Everything above this layer sees decoded (plain) pages by number.
//
// A PageSource owns the bytes of one database file. The reading implementation maps
// the file read-only (shared with other readers); pages of encoded/encrypted files are
// decoded on use into a bounded window of pages. A writer can add its own PageSource
// (or extend this one) that keeps dirty pages and re-encodes them on flush: readers
// only need page(n), pageCount() and pageSize().

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace jet {

// Decodes (and, for a writer, encodes) whole pages. Page 0 is never encoded.
class PageCodec {
public:
    virtual ~PageCodec() = default;
    virtual void decode(std::uint32_t pageNumber, std::uint8_t* data, std::size_t size) const = 0;
    virtual void encode(std::uint32_t pageNumber, std::uint8_t* data, std::size_t size) const = 0;
};

// Jet3/Jet4 "encoded" database: page n (n >= 1) is RC4 with key LE32(dbKey ^ n).
class JetRc4Codec : public PageCodec {
public:
    explicit JetRc4Codec(std::uint32_t dbKey) : key_(dbKey) {}
    void decode(std::uint32_t pageNumber, std::uint8_t* data, std::size_t size) const override;
    void encode(std::uint32_t pageNumber, std::uint8_t* data, std::size_t size) const override {
        decode(pageNumber, data, size);
    }

private:
    std::uint32_t key_;
};

class PageSource {
public:
    virtual ~PageSource() = default;
    std::uint32_t pageSize() const { return pageSize_; }
    std::uint32_t pageCount() const { return pageCount_; }
    const std::string& path() const { return path_; }

    // The plain bytes of page n (pageSize() bytes). Throws jet::Error 3049 (corrupt)
    // when n is beyond the file. The span stays valid until at least kPageWindow further
    // page() calls (for a plain mapped file: for the life of the source); code that
    // keeps bytes longer, or fetches many pages meanwhile, copies them.
    static constexpr std::uint32_t kPageWindow = 64;
    virtual std::span<const std::uint8_t> page(std::uint32_t n) = 0;

protected:
    std::string path_;
    std::uint32_t pageSize_ = 0;
    std::uint32_t pageCount_ = 0;
};

// A read-only file mapped into memory (falls back to reading it whole when mmap is
// not possible). Opening: missing file → Error 3024, directory missing → 3044,
// no permission → 3051.
class FilePageSource : public PageSource {
public:
    static std::unique_ptr<FilePageSource> open(const std::string& path);
    // Wraps bytes already in memory (tests, fuzzing). The name is used in messages.
    static std::unique_ptr<FilePageSource> fromMemory(std::vector<std::uint8_t> bytes, const std::string& name);
    ~FilePageSource() override;

    // Raw file bytes (before any page decoding).
    std::span<const std::uint8_t> fileBytes() const { return {data_, size_}; }

    // Sets the page size once the header is known; the page count is size / pageSize
    // (a trailing partial page is ignored).
    void setPageSize(std::uint32_t pageSize);
    // Installs a page decoder; pages are then decoded on first access.
    void setCodec(std::unique_ptr<PageCodec> codec);

    std::span<const std::uint8_t> page(std::uint32_t n) override;

private:
    FilePageSource() = default;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    bool mapped_ = false;
    std::vector<std::uint8_t> owned_; // when not mapped
    std::unique_ptr<PageCodec> codec_;
    // Decoded pages (codec set): a ring of kDecodedPages buffers, found by page number.
    static constexpr std::size_t kDecodedPages = 256;
    std::vector<std::unique_ptr<std::uint8_t[]>> ring_;
    std::vector<std::uint32_t> ringPage_;
    std::size_t ringNext_ = 0;
    std::vector<std::int32_t> slotOf_; // page -> ring slot, -1 when not decoded
    // Mapped files: touched pages are given back to the kernel every so often, so that
    // the resident size stays flat however large the file is.
    std::uint64_t touched_ = 0;
};

} // namespace jet
