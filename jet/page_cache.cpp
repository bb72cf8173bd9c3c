#include "page_cache.h"

#include "error.h"
#include "writer_error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jet {

namespace {

class PosixFile final : public FileIo {
public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override { ::close(fd_); }
    std::uint64_t size() override
    {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            fail("stat");
        return static_cast<std::uint64_t>(st.st_size);
    }
    void read(std::uint64_t offset, std::uint8_t* data, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t r = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                fail("read");
            done += static_cast<std::size_t>(r);
        }
    }
    void write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t r = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                fail("write");
            done += static_cast<std::size_t>(r);
        }
    }
    void truncate(std::uint64_t size) override
    {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
            fail("truncate");
    }
    void sync() override
    {
        if (::fsync(fd_) != 0)
            fail("sync");
    }
    int fd() const override { return fd_; }

private:
    [[noreturn]] void fail(const char* what) const
    {
        throwError(err::DiskIo, std::string("Disk or network error: cannot ") + what + " '" + path_ +
                                    "': " + std::strerror(errno) + ".");
    }
    int fd_;
    std::string path_;
};

}  // namespace

std::unique_ptr<FileIo> openPosixFile(const std::string& path, bool writable)
{
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT)
            throwError(3024, "Could not find file '" + path + "'.");
        if (e == EACCES || e == EROFS || e == EPERM)
            throwError(3051, "Cannot open '" + path + "' for writing: " + std::strerror(e) +
                                 ". The file is read-only or you have no permission to change it.");
        throwError(err::DiskIo, "Cannot open '" + path + "': " + std::strerror(e) + ".");
    }
    return std::make_unique<PosixFile>(fd, path);
}

void rc4Apply(const std::uint8_t* key, std::size_t keyLen, std::uint8_t* data, std::size_t size)
{
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<std::uint8_t>(i);
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + s[i] + key[static_cast<std::size_t>(i) % keyLen]);
        std::swap(s[i], s[j]);
    }
    std::uint8_t a = 0, b = 0;
    for (std::size_t k = 0; k < size; ++k) {
        a = static_cast<std::uint8_t>(a + 1);
        b = static_cast<std::uint8_t>(b + s[a]);
        std::swap(s[a], s[b]);
        data[k] ^= s[static_cast<std::uint8_t>(s[a] + s[b])];
    }
}

PageCache::PageCache(std::unique_ptr<FileIo> io, std::uint32_t pageSize, std::string path, std::uint32_t encodeKey)
    : io_(std::move(io)), encodeKey_(encodeKey)
{
    path_ = std::move(path);
    pageSize_ = pageSize;
    const std::uint64_t size = io_->size();
    pageCount_ = static_cast<std::uint32_t>(size / pageSize);
    committedCount_ = pageCount_;
    pages_.resize(pageCount_);
}

PageCache::~PageCache() = default;

std::uint8_t* PageCache::load(std::uint32_t n)
{
    if (n >= pageCount_)
        throwError(err::Corrupt, "Page " + std::to_string(n) + " lies beyond the end of '" + path_ +
                                     "' (" + std::to_string(pageCount_) + " pages); the file may be damaged.");
    auto& p = pages_[n];
    if (!p) {
        p = std::make_unique<std::uint8_t[]>(pageSize_);
        io_->read(static_cast<std::uint64_t>(n) * pageSize_, p.get(), pageSize_);
        if (codec_ && n != 0) {
            codec_->decode(n, p.get(), pageSize_);
        } else if (encodeKey_ != 0 && n != 0) {
            std::uint8_t key[4];
            const std::uint32_t k = encodeKey_ ^ n;
            for (int i = 0; i < 4; ++i)
                key[i] = static_cast<std::uint8_t>(k >> (8 * i));
            rc4Apply(key, 4, p.get(), pageSize_);
        }
    }
    return p.get();
}

std::span<const std::uint8_t> PageCache::page(std::uint32_t n)
{
    return {load(n), pageSize_};
}

std::uint8_t* PageCache::modify(std::uint32_t n)
{
    std::uint8_t* p = load(n);
    if (!active_)
        throwError(err::ReadOnly, "Internal error: page changed outside a statement.");
    if (n < committedCount_ && !undo_.contains(n)) {
        std::unique_ptr<std::uint8_t[]> copy;
        if (spare_.empty()) {
            copy = std::make_unique<std::uint8_t[]>(pageSize_);
        } else {
            copy = std::move(spare_.back());
            spare_.pop_back();
        }
        std::memcpy(copy.get(), p, pageSize_);
        undo_.emplace(n, std::move(copy));
        touched_.push_back(n);
    }
    return p;
}

std::uint32_t PageCache::append()
{
    if (!active_)
        throwError(err::ReadOnly, "Internal error: page appended outside a statement.");
    const std::uint64_t limit = 2ull * 1024 * 1024 * 1024;
    if ((static_cast<std::uint64_t>(pageCount_) + 1) * pageSize_ > limit)
        throwError(err::DatabaseFull, "The database '" + path_ + "' would grow beyond 2 GB.");
    pages_.push_back(std::make_unique<std::uint8_t[]>(pageSize_));
    std::memset(pages_.back().get(), 0, pageSize_);
    return pageCount_++;
}

void PageCache::begin()
{
    if (active_)
        rollback();
    active_ = true;
}

void PageCache::writeRange(std::uint32_t n, const std::uint8_t* data, std::size_t from, std::size_t to)
{
    const std::uint64_t offset = static_cast<std::uint64_t>(n) * pageSize_;
    if (codec_ && n != 0) {
        // Block ciphers chain through the page: always the whole page.
        std::vector<std::uint8_t> enc(data, data + pageSize_);
        codec_->encode(n, enc.data(), pageSize_);
        io_->write(offset, enc.data(), pageSize_);
        bytesWritten_ += pageSize_;
        return;
    }
    if (encodeKey_ != 0 && n != 0) {
        std::vector<std::uint8_t> enc(data, data + pageSize_);
        std::uint8_t key[4];
        const std::uint32_t k = encodeKey_ ^ n;
        for (int i = 0; i < 4; ++i)
            key[i] = static_cast<std::uint8_t>(k >> (8 * i));
        rc4Apply(key, 4, enc.data(), pageSize_);
        io_->write(offset + from, enc.data() + from, to - from);
    } else {
        io_->write(offset + from, data + from, to - from);
    }
    bytesWritten_ += to - from;
}

void PageCache::commit()
{
    if (!active_)
        return;
    // What has reached the file so far, for putting it back if a write fails.
    std::vector<std::uint32_t> written;
    try {
        // New pages first: until the pages that point at them are written they are unreachable.
        for (std::uint32_t n = committedCount_; n < pageCount_; ++n)
            writeRange(n, pages_[n].get(), 0, pageSize_);
        // Changed pages in ascending order, page 1 (the free-page map) last; only the changed runs.
        std::sort(touched_.begin(), touched_.end(), [](std::uint32_t a, std::uint32_t b) {
            if ((a == 1) != (b == 1))
                return b == 1;
            return a < b;
        });
        for (std::uint32_t n : touched_) {
            const std::uint8_t* now = pages_[n].get();
            const std::uint8_t* before = undo_.at(n).get();
            if (std::memcmp(now, before, pageSize_) == 0)
                continue;
            written.push_back(n);
            if ((encodeKey_ != 0 || codec_) && n != 0) {
                writeRange(n, now, 0, pageSize_);  // RC4 pages: the whole page once
                continue;
            }
            // The span from the first to the last changed 64-byte block, in one write: a system call costs
            // more than the unchanged bytes in between.
            constexpr std::size_t block = 64;
            std::size_t first = 0, last = pageSize_;
            while (first < pageSize_ && std::memcmp(now + first, before + first, block) == 0)
                first += block;
            while (last > first && std::memcmp(now + last - block, before + last - block, block) == 0)
                last -= block;
            writeRange(n, now, first, last);
        }
    } catch (const Error&) {
        // Put back what was overwritten and cut off what was appended.
        for (std::uint32_t n : written) {
            try {
                writeRange(n, undo_.at(n).get(), 0, pageSize_);
            } catch (const Error&) {
            }
        }
        try {
            io_->truncate(static_cast<std::uint64_t>(committedCount_) * pageSize_);
        } catch (const Error&) {
        }
        rollback();
        throw;
    }
    releaseUndo();
    committedCount_ = pageCount_;
    active_ = false;
}

void PageCache::releaseUndo()
{
    for (auto& [n, copy] : undo_)
        if (spare_.size() < 64)
            spare_.push_back(std::move(copy));
    undo_.clear();
    touched_.clear();
}

void PageCache::rollback()
{
    for (auto& [n, copy] : undo_)
        std::memcpy(pages_[n].get(), copy.get(), pageSize_);
    releaseUndo();
    pages_.resize(committedCount_);
    pageCount_ = committedCount_;
    active_ = false;
}

void PageCache::sync()
{
    io_->sync();
}

}  // namespace jet
