// One place where the writing half raises jet::Error, so every writer file reports errors the same way.
#pragma once

#include <string>

namespace jet {

// Access engine error numbers the writer reports.
namespace err {
inline constexpr int InvalidStatement = 3129;   // not one of the statements we know
inline constexpr int SyntaxCreate = 3290;       // syntax error in CREATE TABLE
inline constexpr int SyntaxInsert = 3134;       // syntax error in INSERT INTO
inline constexpr int SyntaxDrop = 3295;         // syntax error in DROP TABLE
inline constexpr int SyntaxSelect = 3141;       // malformed SELECT
inline constexpr int SyntaxAlter = 3293;        // syntax error in ALTER TABLE
inline constexpr int TableExists = 3010;        // table already exists
inline constexpr int NoSuchTable = 3376;        // table does not exist
inline constexpr int CannotFindInput = 3078;    // cannot find the input table
inline constexpr int InvalidName = 3125;        // not a valid name
inline constexpr int FieldDefinedTwice = 3191;  // cannot define field more than once
inline constexpr int TooManyFields = 3190;      // too many fields defined
inline constexpr int NoFields = 3283;           // table without fields
inline constexpr int FieldTooSmall = 3163;      // text longer than the column
inline constexpr int Overflow = 3349;           // numeric field overflow
inline constexpr int TypeMismatch = 3464;       // data type mismatch
inline constexpr int ValueCount = 3346;         // number of values and destination fields differ
inline constexpr int UnknownField = 3127;       // INSERT names an unknown field
inline constexpr int NullNotAllowed = 3314;     // Null into a required field
inline constexpr int InRelationship = 3303;     // table takes part in a relationship
inline constexpr int RelatedRecordRequired = 3201;  // no parent row for a relationship with integrity
inline constexpr int ObjectExists = 3012;       // a relationship of that name exists
inline constexpr int RelationshipFields = 3368; // relationship sides differ in number or type of fields
inline constexpr int NoUniqueIndex = 3173;      // referenced fields are not a unique index
inline constexpr int NoSuchConstraint = 3371;   // DROP CONSTRAINT of an unknown name
inline constexpr int FileInUse = 3045;          // file already in use / locked
inline constexpr int ReadOnly = 3027;           // database is read-only / cannot update
inline constexpr int Unsupported = 3251;        // operation not supported for this kind of file
inline constexpr int DiskIo = 3043;             // disk or network error
inline constexpr int Corrupt = 3343;            // unrecognized database format / damaged file
inline constexpr int RecordTooLarge = 3047;     // record is too large
inline constexpr int DatabaseFull = 3183;      // the file would grow past its size limit
inline constexpr int DuplicateKey = 3022;       // duplicate values in a unique index
inline constexpr int NullInIndex = 3058;        // Null in a primary key or disallow-null index
inline constexpr int IndexExists = 3375;        // the table already has an index of that name
inline constexpr int PrimaryKeyExists = 3283;   // a second primary key
inline constexpr int NotInCollection = 3265;    // no index (or field) of that name
inline constexpr int TooManyIndexes = 3626;     // more than 32 indexes on a table
inline constexpr int TooManyIndexFields = 3277; // more than 10 fields in an index
}  // namespace err

[[noreturn]] void throwError(int number, std::string description);

}  // namespace jet
