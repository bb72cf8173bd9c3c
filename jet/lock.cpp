#include "lock.h"

#include "writer_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace jet {

namespace {

bool lockWhole(int fd, short type)
{
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // to the end, however far it grows
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

[[noreturn]] void inUse(const std::string& path, const std::string& why)
{
    throwError(err::FileInUse, "Could not use '" + path + "'; file already in use (" + why +
                                   "). Close Microsoft Access or the other program and try again.");
}

}  // namespace

std::string WriteLock::lockFilePath(const std::string& dbPath)
{
    const auto slash = dbPath.find_last_of('/');
    const auto dot = dbPath.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExt ? dbPath.substr(0, dot) : dbPath;
    const std::string ext = hasExt ? lower(dbPath.substr(dot)) : "";
    // Access 2007 and later (.accdb, .accde, .accdr) use .laccdb; everything older .ldb.
    return stem + (ext.rfind(".acc", 0) == 0 ? ".laccdb" : ".ldb");
}

std::unique_ptr<WriteLock> WriteLock::acquire(const std::string& dbPath, int dbFd)
{
    auto lk = std::make_unique<WriteLock>(Token{});
    lk->lockPath_ = lockFilePath(dbPath);
    int fd = ::open(lk->lockPath_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(lk->lockPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            lk->created_ = true;
            // One record as Access writes them: 32 bytes computer name, 32 bytes user name.
            char rec[64] = {};
            char host[32] = {};
            ::gethostname(host, sizeof host - 1);
            std::memcpy(rec, host, std::strlen(host));
            const char* user = ::getenv("USER");
            std::strncpy(rec + 32, user ? user : "Admin", 31);
            if (::write(fd, rec, sizeof rec) != static_cast<ssize_t>(sizeof rec)) {
                // The record is informative only.
            }
        }
    }
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        throwError(3051, "Cannot create the lock file '" + lk->lockPath_ + "': " + std::strerror(errno) +
                             ". The folder must be writable to change the database.");
    lk->lockFd_ = fd;
    if (fd >= 0 && !lockWhole(fd, F_WRLCK)) {
        lk->created_ = false;
        inUse(dbPath, "the lock file '" + lk->lockPath_ + "' is held by another program");
    }
    if (dbFd >= 0) {
        if (!lockWhole(dbFd, F_WRLCK))
            inUse(dbPath, "another program holds a lock on it");
        lk->dbFd_ = dbFd;
    }
    return lk;
}

WriteLock::~WriteLock()
{
    if (dbFd_ >= 0)
        lockWhole(dbFd_, F_UNLCK);
    if (lockFd_ >= 0) {
        if (created_)
            ::unlink(lockPath_.c_str());
        lockWhole(lockFd_, F_UNLCK);
        ::close(lockFd_);
    }
}

}  // namespace jet
