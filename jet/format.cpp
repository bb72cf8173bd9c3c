#include "jet/format.h"

namespace jet {

const char* formatName(Format f) {
    switch (f) {
    case Format::Jet3: return "JET3";
    case Format::Jet4: return "JET4";
    case Format::Ace12: return "ACE12";
    case Format::Ace14: return "ACE14";
    case Format::Ace15: return "ACE15";
    case Format::Ace16: return "ACE16";
    case Format::Ace17: return "ACE17";
    }
    return "?";
}

const char* columnTypeName(std::uint8_t t) {
    switch (static_cast<ColumnType>(t)) {
    case ColumnType::Boolean: return "boolean";
    case ColumnType::Byte: return "byte";
    case ColumnType::Integer: return "integer";
    case ColumnType::Long: return "long";
    case ColumnType::Currency: return "currency";
    case ColumnType::Single: return "float";
    case ColumnType::Double: return "double";
    case ColumnType::DateTime: return "datetime";
    case ColumnType::Binary: return "binary";
    case ColumnType::Text: return "text";
    case ColumnType::Ole: return "ole";
    case ColumnType::Memo: return "memo";
    case ColumnType::Guid: return "guid";
    case ColumnType::Numeric: return "numeric";
    case ColumnType::Complex: return "complex";
    case ColumnType::BigInt: return "bigint";
    case ColumnType::DateTimeExt: return "datetimeext";
    default: return "unknown";
    }
}

int fixedTypeSize(std::uint8_t t) {
    switch (static_cast<ColumnType>(t)) {
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Currency: return 8;
    case ColumnType::Single: return 4;
    case ColumnType::Double: return 8;
    case ColumnType::DateTime: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    case ColumnType::Complex: return 4;
    case ColumnType::BigInt: return 8;
    case ColumnType::DateTimeExt: return 42;
    default: return 0;
    }
}

namespace {

FormatInfo makeJet3() {
    FormatInfo f{};
    f.format = Format::Jet3;
    f.jet3 = true;
    f.pageSize = 2048;
    f.unicodeText = false;
    f.engineVersionByte = 0;
    f.headerMaskedSize = 126;
    f.headerPasswordSize = 20;
    f.headerCreationDate = -1;
    f.headerSortOrder = 0x3A;
    f.dataRowCount = 0x08;
    f.dataRowTable = 0x0A;
    f.tdefRowCount = 0x0C;
    f.tdefAutoNumber = 0x10;
    f.tdefComplexAutoNumber = -1;
    f.tdefTableType = 0x14;
    f.tdefMaxCols = 0x15;
    f.tdefNumVarCols = 0x17;
    f.tdefNumCols = 0x19;
    f.tdefNumLogicalIdx = 0x1B;
    f.tdefNumRealIdx = 0x1F;
    f.tdefOwnedMap = 0x23;
    f.tdefFreeMap = 0x27;
    f.tdefVariablePart = 0x2B;
    f.realIdxCounterSize = 8;
    f.columnDescSize = 18;
    f.nameLengthSize = 1;
    f.realIdxDefSize = 39;
    f.logicalIdxDefSize = 20;
    f.colNumber = 1;
    f.colVarIndex = 3;
    f.colMisc = 11;
    f.colCodePage = 11;
    f.colFlags = 13;
    f.colExtFlags = -1;
    f.colFixedOffset = 14;
    f.colLength = 16;
    f.rowCountSize = 1;
    f.maxRowSize = 2012;
    f.lvalPageHeader = 10;
    f.maxLvalRowData = 2032;
    f.inlineMapBytes = 128;
    f.referenceMapPagesPerBitmap = (2048 - 4) * 8;
    return f;
}

FormatInfo makeJet4(Format fm, int versionByte) {
    FormatInfo f{};
    f.format = fm;
    f.jet3 = false;
    f.pageSize = 4096;
    f.unicodeText = true;
    f.engineVersionByte = versionByte;
    f.headerMaskedSize = 128;
    f.headerPasswordSize = 40;
    f.headerCreationDate = 0x72;
    f.headerSortOrder = 0x6E;
    f.dataRowCount = 0x0C;
    f.dataRowTable = 0x0E;
    f.tdefRowCount = 0x10;
    f.tdefAutoNumber = 0x14;
    f.tdefComplexAutoNumber = 0x1C;
    f.tdefTableType = 0x28;
    f.tdefMaxCols = 0x29;
    f.tdefNumVarCols = 0x2B;
    f.tdefNumCols = 0x2D;
    f.tdefNumLogicalIdx = 0x2F;
    f.tdefNumRealIdx = 0x33;
    f.tdefOwnedMap = 0x37;
    f.tdefFreeMap = 0x3B;
    f.tdefVariablePart = 0x3F;
    f.realIdxCounterSize = 12;
    f.columnDescSize = 25;
    f.nameLengthSize = 2;
    f.realIdxDefSize = 52;
    f.logicalIdxDefSize = 28;
    f.colNumber = 5;
    f.colVarIndex = 7;
    f.colMisc = 11;
    f.colCodePage = -1;
    f.colFlags = 15;
    f.colExtFlags = 16;
    f.colFixedOffset = 21;
    f.colLength = 23;
    f.rowCountSize = 2;
    f.maxRowSize = 4060;
    f.lvalPageHeader = 14;
    f.maxLvalRowData = 4076;
    f.inlineMapBytes = 64;
    f.referenceMapPagesPerBitmap = (4096 - 4) * 8;
    return f;
}

} // namespace

const FormatInfo& formatInfo(Format f) {
    static const FormatInfo jet3 = makeJet3();
    static const FormatInfo jet4 = makeJet4(Format::Jet4, 1);
    static const FormatInfo ace12 = makeJet4(Format::Ace12, 2);
    static const FormatInfo ace14 = makeJet4(Format::Ace14, 3);
    static const FormatInfo ace15 = makeJet4(Format::Ace15, 4);
    static const FormatInfo ace16 = makeJet4(Format::Ace16, 5);
    static const FormatInfo ace17 = makeJet4(Format::Ace17, 6);
    switch (f) {
    case Format::Jet3: return jet3;
    case Format::Jet4: return jet4;
    case Format::Ace12: return ace12;
    case Format::Ace14: return ace14;
    case Format::Ace15: return ace15;
    case Format::Ace16: return ace16;
    case Format::Ace17: return ace17;
    }
    return jet4;
}

} // namespace jet
