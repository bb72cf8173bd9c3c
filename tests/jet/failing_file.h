#pragma once
// A file for the writer tests whose n-th write (counting from when it is
// armed) fails once, as a full disk or a lost network share would.
#include <memory>

#include "jet/error.h"
#include "jet/page_cache.h"

class FailingFile final : public jet::FileIo {
public:
    FailingFile(std::unique_ptr<jet::FileIo> inner, int* countdown, int* writes)
        : inner_(std::move(inner)), countdown_(countdown), writes_(writes)
    {
    }
    std::uint64_t size() override { return inner_->size(); }
    void read(std::uint64_t o, std::uint8_t* d, std::size_t n) override { inner_->read(o, d, n); }
    void write(std::uint64_t o, const std::uint8_t* d, std::size_t n) override
    {
        ++*writes_;
        if (*countdown_ > 0 && --*countdown_ == 0)
            throw jet::Error(3043, "Disk or network error (test).");
        inner_->write(o, d, n);
    }
    void truncate(std::uint64_t n) override { inner_->truncate(n); }
    void sync() override { inner_->sync(); }

private:
    std::unique_ptr<jet::FileIo> inner_;
    int* countdown_;
    int* writes_;
};
