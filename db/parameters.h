#pragma once
#include <functional>
#include <string>

namespace db {

// The current texts of the ConnectionPage's seven fields.
struct ConnectionParameters {
    std::string server;         // Text1
    std::string port;           // Text2
    std::string user;           // Text3
    std::string password;       // Text4
    std::string database;       // Text5
    std::string accessFile;     // Text6
    std::string accessPassword; // Text7
};

// Reads the fields at the moment of use; every database operation asks anew.
using ParameterSource = std::function<ConnectionParameters()>;

} // namespace db
