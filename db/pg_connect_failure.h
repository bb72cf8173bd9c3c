#pragma once
// Why a PostgreSQL connection did not open, in words a user can act on,
// read from the message libpq gives for the failed attempt. Pure text work:
// no connection is made here.

#include <string>
#include <string_view>

namespace db {

// One plain sentence (or two) for libpq's connection failure message:
//   the server refused the connection on that port / nothing listens on that
//   local socket; the server did not answer within `timeoutSeconds`; the host
//   name is unknown; password authentication failed for the user; no password
//   was given; the database or the user does not exist; the server does not
//   let this computer in; the port is not a number.
// When libpq tried several addresses the last attempt speaks. A message none
// of these fit (another failure, or libpq speaking another language) comes
// back as libpq wrote it, line breaks and hints left out. libpq never puts
// the password into its messages, and nothing here adds connection details
// beyond the host, port, socket, user and database names libpq names itself.
std::string connectionFailureReason(std::string_view message, int timeoutSeconds);

} // namespace db
