#pragma once
// A table definition (pages of type 0x02) read into its columns: what a row of the table
// holds and where. The page number of a definition is stored nowhere in it; callers tie it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillon::jet {

// Column types as a definition stores them.
enum class TColumnType : std::uint8_t {
  YesNo = 0x01,        // no bytes in the row: the value is the column's bit in the null mask
  Byte = 0x02,
  Integer = 0x03,      // 16-bit
  Long = 0x04,         // 32-bit
  Currency = 0x05,     // 64-bit integer of ten-thousandths
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,     // double: days since 1899-12-30, the fraction the time of day
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,          // a long value: raw bytes
  Memo = 0x0C,         // a long value: text
  Unknown0D = 0x0D,    // seen in system tables; kept as bytes
  Guid = 0x0F,
  Decimal = 0x10,      // 17 bytes: sign, then four 32-bit words, most significant first
  Unknown11 = 0x11,    // a fixed binary field (3992 bytes) of system tables; kept as bytes
  Complex = 0x12,      // ACE: a 32-bit key into a hidden table
  BigInt = 0x13,       // ACE
  ExtendedDate = 0x14, // ACE 2019: "days:ticks:precision" as ASCII digits
};

struct TColumn {
  std::string Name;  // UTF-8
  TColumnType Type = TColumnType::Long;
  std::uint16_t Number = 0;       // its place in the row's null mask (deleted columns count)
  std::uint16_t VarIndex = 0;     // its index among the row's variable-length entries
  std::uint16_t FixedOffset = 0;  // its offset in the fixed part, after the column count
  std::uint16_t Size = 0;         // bytes in the row (text: UTF-16 bytes at most)
  bool Fixed = false;             // in the fixed part (flag 0x01); else in the variable part
  std::uint8_t Precision = 0;     // decimal only
  std::uint8_t Scale = 0;         // decimal only
};

struct TTableDefinition {
  bool System = false;            // table type 0x53
  std::uint16_t HighestColumnCount = 0;  // counts deleted columns
  std::uint16_t VarColumnCount = 0;      // counts deleted variable-length columns
  std::uint32_t StoredRowCount = 0;      // may be stale
  std::uint32_t UsageMapPointer = 0;     // row number in the low byte, page number above
  std::vector<TColumn> Columns;          // in column-number order, as the table shows them
  std::uint16_t FixedLength = 0;         // bytes of the fixed part the definition describes
  bool HasVariablePart() const { return VarColumnCount > 0; }
};

enum class TDefinitionParse {
  Ok,
  NeedsMore,  // plausible so far, but its bytes go on past what was given
  Invalid,    // not a table definition
};

struct TDefinitionResult {
  TDefinitionParse Status = TDefinitionParse::Invalid;
  std::optional<TTableDefinition> Definition;  // set when Ok
};

// Parses a definition from its bytes: the first page whole, then the bytes from offset 8 of
// each continuation page in chain order. Refuses (Invalid) a table type other than 0x4E or
// 0x53, counts out of range (no columns, more than 255, more columns than ever existed),
// unknown column types, repeated column numbers, fixed columns reaching past 4096 bytes,
// and names that are empty, longer than 64 characters, or not UTF-16.
TDefinitionResult ParseTableDefinition(std::span<const std::uint8_t> bytes);

// Whether a page begins as every definition page does: type 0x02, then 0x01.
bool IsDefinitionPage(std::span<const std::uint8_t> page);

// What a definition page adds to the definition's bytes: the whole of its first page, the
// rest of a continuation page after its 8-byte head.
std::span<const std::uint8_t> DefinitionBytesOf(std::span<const std::uint8_t> page, bool first);

// The next page of a definition page (bytes 4..7), 0 when it is the last.
std::uint32_t NextDefinitionPage(std::span<const std::uint8_t> page);

// The bytes a value of this type takes wherever it is stored; 0 for types whose size varies
// (text, memo, OLE, binary, extended date) and for yes/no, which takes none.
std::uint16_t NaturalSize(TColumnType type);

// The catalog's definition (MSysObjects, always at page 2) for databases whose page 2 is
// lost: its layout is the same in every file measured.
const TTableDefinition& BuiltInCatalogDefinition();

// Which of the system tables at fixed pages 2 to 5 a definition is, by its shape; 0 when
// it is none of them.
std::uint32_t SystemDefinitionPage(const TTableDefinition& definition);

}  // namespace quillon::jet
