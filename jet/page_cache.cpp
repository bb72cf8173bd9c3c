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
    frameOf_.assign(pageCount_, 0);
}

PageCache::~PageCache() = default;

void PageCache::setBudget(std::size_t pages)
{
    budget_ = pages;
    if (!active_)
        trim();
}

std::uint8_t* PageCache::resident(std::uint32_t n) const
{
    const std::uint32_t f = frameOf_[n];
    return f ? frames_[f - 1].data.get() : nullptr;
}

std::unique_ptr<std::uint8_t[]> PageCache::takeBuffer()
{
    if (spare_.empty())
        return std::make_unique_for_overwrite<std::uint8_t[]>(pageSize_);
    auto b = std::move(spare_.back());
    spare_.pop_back();
    return b;
}

void PageCache::giveBack(std::unique_ptr<std::uint8_t[]> buffer)
{
    if (buffer && spare_.size() < 64)
        spare_.push_back(std::move(buffer));
}

std::uint8_t* PageCache::load(std::uint32_t n)
{
    if (n >= pageCount_)
        throwError(err::Corrupt, "Page " + std::to_string(n) + " lies beyond the end of '" + path_ +
                                     "' (" + std::to_string(pageCount_) + " pages); the file may be damaged.");
    if (const std::uint32_t f = frameOf_[n]) {
        Frame& fr = frames_[f - 1];
        fr.lastUse = ++clock_;
        return fr.data.get();
    }
    auto p = takeBuffer();
    try {
        io_->read(static_cast<std::uint64_t>(n) * pageSize_, p.get(), pageSize_);
    } catch (...) {
        giveBack(std::move(p));
        throw;
    }
    ++pagesRead_;
    if (codec_ && n != 0) {
        codec_->decode(n, p.get(), pageSize_);
    } else if (encodeKey_ != 0 && n != 0) {
        std::uint8_t key[4];
        const std::uint32_t k = encodeKey_ ^ n;
        for (int i = 0; i < 4; ++i)
            key[i] = static_cast<std::uint8_t>(k >> (8 * i));
        rc4Apply(key, 4, p.get(), pageSize_);
    }
    frames_.push_back({std::move(p), n, ++clock_});
    frameOf_[n] = static_cast<std::uint32_t>(frames_.size());
    return frames_.back().data.get();
}

// Pages that stay in memory: the header, the free-page map and the catalogue, and inside a group every page
// the group changed or added (the file does not have them yet).
bool PageCache::pinned(std::uint32_t n) const
{
    return n <= 2 || (grouped_ && (n >= groupCount_ || groupUndo_.contains(n)));
}

// Forgets frame `frame`; the last frame takes its place.
void PageCache::drop(std::size_t frame)
{
    frameOf_[frames_[frame].page] = 0;
    giveBack(std::move(frames_[frame].data));
    if (frame + 1 != frames_.size()) {
        frames_[frame] = std::move(frames_.back());
        frameOf_[frames_[frame].page] = static_cast<std::uint32_t>(frame + 1);
    }
    frames_.pop_back();
}

// Between statements: gives back the pages used least recently, down to three quarters of the budget (so that
// this runs once every so many new pages, not after every statement).
void PageCache::trim()
{
    if (active_ || keepAll_ || frames_.size() <= budget_)
        return;
    const auto pinned = [this](std::uint32_t n) { return this->pinned(n); };
    const std::size_t keep = budget_ - budget_ / 4;
    std::vector<std::uint64_t> uses;
    uses.reserve(frames_.size());
    for (const Frame& f : frames_)
        if (!pinned(f.page))
            uses.push_back(f.lastUse);
    const std::size_t pinnedCount = frames_.size() - uses.size();
    const std::size_t target = keep > pinnedCount ? keep - pinnedCount : 0;  // unpinned pages to keep
    if (uses.size() <= target)
        return;
    const std::size_t evict = uses.size() - target;
    std::nth_element(uses.begin(), uses.begin() + static_cast<std::ptrdiff_t>(evict - 1), uses.end());
    const std::uint64_t newestEvicted = uses[evict - 1];  // use stamps are distinct
    for (std::size_t i = frames_.size(); i-- > 0;)
        if (!pinned(frames_[i].page) && frames_[i].lastUse <= newestEvicted)
            drop(i);
    if (frames_.capacity() > 2 * budget_ + 64)
        frames_.shrink_to_fit();
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
        auto copy = takeBuffer();
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
    auto p = takeBuffer();
    std::memset(p.get(), 0, pageSize_);
    frameOf_.push_back(0);
    frames_.push_back({std::move(p), pageCount_, ++clock_});
    frameOf_[pageCount_] = static_cast<std::uint32_t>(frames_.size());
    return pageCount_++;
}

void PageCache::begin()
{
    if (active_)
        rollback();
    trim();  // pages read since the last statement ended
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

void PageCache::writeOut(std::uint32_t firstNew, std::vector<std::uint32_t>& touched, const Images& before)
{
    // What has reached the file so far, for putting it back if a write fails.
    std::vector<std::uint32_t> written;
    try {
        // New pages first: until the pages that point at them are written they are unreachable.
        for (std::uint32_t n = firstNew; n < pageCount_; ++n)
            writeRange(n, resident(n), 0, pageSize_);
        // Changed pages in ascending order, page 1 (the free-page map) last; only the changed runs.
        std::sort(touched.begin(), touched.end(), [](std::uint32_t a, std::uint32_t b) {
            if ((a == 1) != (b == 1))
                return b == 1;
            return a < b;
        });
        for (std::uint32_t n : touched) {
            const std::uint8_t* now = resident(n);
            const std::uint8_t* was = before.at(n).get();
            if (std::memcmp(now, was, pageSize_) == 0)
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
            while (first < pageSize_ && std::memcmp(now + first, was + first, block) == 0)
                first += block;
            while (last > first && std::memcmp(now + last - block, was + last - block, block) == 0)
                last -= block;
            writeRange(n, now, first, last);
        }
    } catch (const Error&) {
        // Put back what was overwritten and cut off what was appended.
        for (std::uint32_t n : written) {
            try {
                writeRange(n, before.at(n).get(), 0, pageSize_);
            } catch (const Error&) {
                keepAll_ = true;
            }
        }
        try {
            io_->truncate(static_cast<std::uint64_t>(firstNew) * pageSize_);
        } catch (const Error&) {
            keepAll_ = true;
        }
        throw;
    }
}

void PageCache::commit()
{
    if (!active_)
        return;
    if (grouped_) {
        // The group keeps the oldest image of each page it changes; the statement's others are not needed.
        for (std::uint32_t n : touched_) {
            if (n < groupCount_ && !groupUndo_.contains(n)) {
                groupUndo_.emplace(n, std::move(undo_.at(n)));
                groupTouched_.push_back(n);
            }
        }
        releaseUndo();
        committedCount_ = pageCount_;
        active_ = false;
        trim();
        return;
    }
    try {
        writeOut(committedCount_, touched_, undo_);
    } catch (const Error&) {
        rollback();
        throw;
    }
    releaseUndo();
    committedCount_ = pageCount_;
    active_ = false;
    trim();
}

void PageCache::beginGroup()
{
    if (active_)
        throwError(err::ReadOnly, "Internal error: a group of statements begun inside a statement.");
    if (grouped_)
        return;
    grouped_ = true;
    groupCount_ = pageCount_;
}

void PageCache::commitGroup()
{
    if (!grouped_)
        return;
    if (active_)
        rollback();
    try {
        writeOut(groupCount_, groupTouched_, groupUndo_);
    } catch (const Error&) {
        rollbackGroup();
        throw;
    }
    for (auto& [n, copy] : groupUndo_)
        giveBack(std::move(copy));
    groupUndo_.clear();
    groupTouched_.clear();
    grouped_ = false;
    committedCount_ = pageCount_;
    trim();
}

void PageCache::rollbackGroup()
{
    if (!grouped_)
        return;
    if (active_)
        rollback();
    for (auto& [n, copy] : groupUndo_) {
        std::memcpy(resident(n), copy.get(), pageSize_);
        giveBack(std::move(copy));
    }
    groupUndo_.clear();
    groupTouched_.clear();
    for (std::size_t i = frames_.size(); i-- > 0;)
        if (frames_[i].page >= groupCount_)
            drop(i);
    frameOf_.resize(groupCount_);
    pageCount_ = committedCount_ = groupCount_;
    grouped_ = false;
    trim();
}

void PageCache::releaseUndo()
{
    for (auto& [n, copy] : undo_)
        giveBack(std::move(copy));
    undo_.clear();
    touched_.clear();
}

void PageCache::rollback()
{
    for (auto& [n, copy] : undo_)
        std::memcpy(resident(n), copy.get(), pageSize_);
    releaseUndo();
    // Appended pages go; the others are as the file has them again.
    for (std::size_t i = frames_.size(); i-- > 0;)
        if (frames_[i].page >= committedCount_)
            drop(i);
    frameOf_.resize(committedCount_);
    pageCount_ = committedCount_;
    active_ = false;
    trim();
}

void PageCache::sync()
{
    io_->sync();
}

}  // namespace jet
