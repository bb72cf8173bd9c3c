// Write locks: the writer refuses a file that Microsoft Access or another program has open for writing and
// holds a lock itself while it writes, so two sessions (of Quillmere or anything that honours the lock file)
// cannot change one file at once.
//
// Two locks are taken, both as open-file-description locks (they also exclude a second session in the
// same process): an exclusive lock on the database file, and one on the lock file beside it (name.ldb for
// .mdb, name.laccdb for .accdb), which Access itself creates and locks while a database is open. A lock file
// that exists but that nobody holds is a leftover of a program that ended without cleaning up; it is reused.
// A lock file we created is removed again when the lock is released.
#pragma once

#include <memory>
#include <string>

namespace jet {

class WriteLock {
public:
    // Throws jet::Error 3045 naming the file when someone else holds it.
    static std::unique_ptr<WriteLock> acquire(const std::string& dbPath, int dbFd);
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // name.ldb / name.laccdb for a database path.
    static std::string lockFilePath(const std::string& dbPath);

    struct Token {  // only acquire() can make one
    private:
        friend class WriteLock;
        Token() = default;
    };
    explicit WriteLock(Token) {}

private:
    int dbFd_ = -1;
    int lockFd_ = -1;
    std::string lockPath_;
    bool created_ = false;
};

}  // namespace jet
