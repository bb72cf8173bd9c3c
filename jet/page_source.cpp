#include "jet/page_source.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/crypto.h"
#include "jet/error.h"

namespace jet {

namespace {

std::string parentDir(const std::string& path) {
    auto pos = path.find_last_of('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

[[noreturn]] void throwOpenError(const std::string& path, int err) {
    if (err == ENOENT || err == ENOTDIR) {
        struct stat st{};
        std::string dir = parentDir(path);
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            throw Error(errc::InvalidPath, "'" + path +
                                               "' is not a valid path. Make sure that the path name is spelled "
                                               "correctly and that you are connected to the server on which the "
                                               "file resides.");
        throw Error(errc::FileNotFound, "Could not find file '" + path + "'.");
    }
    if (err == EACCES || err == EPERM)
        throw Error(errc::CannotOpenFile, "The Microsoft Access database engine cannot open or read the file '" +
                                              path + "'. You need permission to view its data (" +
                                              std::strerror(err) + ").");
    throw Error(errc::CannotOpenFile,
                "The Microsoft Access database engine cannot open the file '" + path + "': " + std::strerror(err) + ".");
}

} // namespace

std::unique_ptr<FilePageSource> FilePageSource::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwOpenError(path, errno);
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        throwOpenError(path, e);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw Error(errc::InvalidPath, "'" + path + "' is a folder, not a database file.");
    }
    std::unique_ptr<FilePageSource> src(new FilePageSource());
    src->path_ = path;
    src->size_ = static_cast<std::size_t>(st.st_size);
    if (src->size_ > 0 && S_ISREG(st.st_mode)) {
        void* p = ::mmap(nullptr, src->size_, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
            src->data_ = static_cast<const std::uint8_t*>(p);
            src->mapped_ = true;
            ::madvise(p, src->size_, MADV_SEQUENTIAL);
        }
    }
    if (!src->mapped_) {
        // Not mappable (pipe, special file, ...): read it whole.
        std::vector<std::uint8_t> buf;
        std::uint8_t chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                int e = errno;
                ::close(fd);
                throwOpenError(path, e);
            }
            if (n == 0) break;
            buf.insert(buf.end(), chunk, chunk + n);
        }
        src->owned_ = std::move(buf);
        src->data_ = src->owned_.data();
        src->size_ = src->owned_.size();
    }
    ::close(fd);
    return src;
}

std::unique_ptr<FilePageSource> FilePageSource::fromMemory(std::vector<std::uint8_t> bytes, const std::string& name) {
    std::unique_ptr<FilePageSource> src(new FilePageSource());
    src->path_ = name;
    src->owned_ = std::move(bytes);
    src->data_ = src->owned_.data();
    src->size_ = src->owned_.size();
    return src;
}

FilePageSource::~FilePageSource() {
    if (mapped_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

void FilePageSource::setPageSize(std::uint32_t pageSize) {
    pageSize_ = pageSize;
    pageCount_ = pageSize ? static_cast<std::uint32_t>(std::min<std::size_t>(size_ / pageSize, 0xFFFFFFu)) : 0;
    setCodec(std::move(codec_));
}

void FilePageSource::setCodec(std::unique_ptr<PageCodec> codec) {
    codec_ = std::move(codec);
    ring_.clear();
    ringPage_.clear();
    slotOf_.clear();
    ringNext_ = 0;
    if (codec_) slotOf_.assign(pageCount_, -1);
}

std::span<const std::uint8_t> FilePageSource::page(std::uint32_t n) {
    if (n >= pageCount_) {
        throwCorrupt(path_, "page " + std::to_string(n) + " is beyond the end of the file (" +
                                std::to_string(pageCount_) + " pages; the file may be truncated)");
    }
    const std::uint8_t* raw = data_ + static_cast<std::size_t>(n) * pageSize_;
    if (mapped_ && ++touched_ % 8192 == 0) {
        // 32 MiB of 4 KiB pages read: let the kernel drop the mapped pages (they are
        // clean and come back from the file on the next access).
        ::madvise(const_cast<std::uint8_t*>(data_), size_, MADV_DONTNEED);
    }
    if (!codec_ || n == 0) return {raw, pageSize_};
    std::int32_t slot = slotOf_[n];
    if (slot >= 0) return {ring_[static_cast<std::size_t>(slot)].get(), pageSize_};
    std::size_t k = ringNext_;
    ringNext_ = (ringNext_ + 1) % kDecodedPages;
    if (k >= ring_.size()) {
        ring_.emplace_back(new std::uint8_t[pageSize_]);
        ringPage_.push_back(0);
    } else {
        slotOf_[ringPage_[k]] = -1;
    }
    std::memcpy(ring_[k].get(), raw, pageSize_);
    codec_->decode(n, ring_[k].get(), pageSize_);
    ringPage_[k] = n;
    slotOf_[n] = static_cast<std::int32_t>(k);
    return {ring_[k].get(), pageSize_};
}

} // namespace jet

namespace jet {

void JetRc4Codec::decode(std::uint32_t pageNumber, std::uint8_t* data, std::size_t size) const {
    if (pageNumber == 0) return;
    std::uint8_t key[4];
    for (int i = 0; i < 4; ++i) key[i] = static_cast<std::uint8_t>((key_ ^ pageNumber) >> (8 * i));
    rc4(key, 4, data, size);
}

} // namespace jet
