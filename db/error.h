#pragma once
#include <stdexcept>
#include <string>

namespace db {

// Every failure of the database layer: a number and a description, as the
// error report shows them. Numbers follow the Access engine's where one
// exists (3031 "Not a valid password.", ...); libpq failures use -1 and
// the server's message as description.
class Error : public std::runtime_error {
public:
    Error(long number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    long number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    long number_;
};

} // namespace db
