#pragma once
// jet::Error — every failure of the Access file engine: a number and a description.
//
// Numbers follow the Microsoft Access database engine where it has one for the
// situation, so that the error report reads as Access users know it. The
// description always names what is wrong (file, table, page), never a password.

#include <stdexcept>
#include <string>

namespace jet {

namespace errc {
// Numbers of the Access database engine.
constexpr int NotValidPassword = 3031;        // "Not a valid password."
constexpr int FileNotFound = 3024;            // "Could not find file '<path>'."
constexpr int InvalidPath = 3044;             // "'<path>' is not a valid path. ..."
constexpr int CorruptDatabase = 3049;         // "Cannot open database '<path>'. ... may be corrupt."
constexpr int CannotOpenFile = 3051;          // no permission / exclusively opened by another program
constexpr int TableNotFound = 3078;           // "... cannot find the input table or query '<name>'. ..."
constexpr int ItemNotFound = 3265;            // column index/name not in the collection
constexpr int NotSupported = 3251;            // "Operation is not supported for this type of object."
constexpr int UnrecognizedFormat = 3343;      // "Unrecognized database format '<path>'."
constexpr int NoCurrentRecord = 3021;         // value asked for while the cursor is not on a row
// Encrypted .accdb (Office agile / standard / RC4 CryptoAPI): not yet supported.
// The Access engine has no number of its own for "not implemented here"; we use
// 3251 ("not supported") with a description naming the encryption.
constexpr int EncryptedNotSupported = NotSupported;
} // namespace errc

class Error : public std::runtime_error {
public:
    Error(int number, std::string description)
        : std::runtime_error(std::move(description)), number_(number) {}
    int number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    int number_;
};

// Helpers that build the engine's standard descriptions.
[[noreturn]] void throwCorrupt(const std::string& path, const std::string& detail);
std::string corruptDescription(const std::string& path, const std::string& detail);

} // namespace jet
