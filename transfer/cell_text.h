#pragma once
// The text forms of Access values for the PostgreSQL types of a schema plan:
// exact, type for type (booleans, numbers to the last digit, timestamps, uuid,
// bytea, arrays, jsonb), an empty text staying an empty text.
#include <optional>
#include <string>

#include "jet/value.h"
#include "transfer/schema_plan.h"

namespace transfer {

// The value's input text for its column's server type; nullopt for Null.
// Throws db::Error for a value the server type cannot hold (a date outside
// years 1 to 9999).
std::optional<std::string> cellText(const jet::Value& value, CellForm form);

// One COPY text field: \N for Null, the text escaped otherwise.
void appendCopyField(std::string& out, const std::optional<std::string>& text);

// A SQL literal for an INSERT: NULL, or the text between apostrophes.
std::string insertLiteral(const std::optional<std::string>& text);

// Base64 (RFC 4648, with padding) of bytes, the form attachments' contents take in jsonb.
std::string base64(const jet::Bytes& bytes);

} // namespace transfer
