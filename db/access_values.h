#pragma once
// The values of an Access table as its record set shows them: each engine value (jet::Value) as a Variant.
// List cells (attachments, multi-value) become one text; their items stay available one by one for
// callers that keep the structure.
#include <vector>

#include "db/variant.h"
#include "jet/database.h"
#include "jet/value.h"

namespace db {

// The value of one cell as the record set gives it:
//   attachments → the file names joined by ';' as Access's provider joins them;
//   multi-value → the values, each in its record-set text form, joined by ';' with '\' escaping any ';'
//                 or '\' inside a value (jet::ListJoin::Escaped);
//   an empty list, or a complex kind the engine cannot read → Null (never its key into the hidden table).
// Version history cells are not fields of a record set (jet::isRecordsetField); they also give Null.
Variant accessCellValue(const jet::Value& v);

// The items of a list cell, each as the record set would give it alone: attachment names, or the values
// of a multi-value cell, in the order Access keeps them. Empty for every other value.
std::vector<Variant> accessListItems(const jet::Value& v);

// The ADO type a record set reports for a column: text for list columns, else the column type's.
int accessFieldType(const jet::Column& c);

} // namespace db
