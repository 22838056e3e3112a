#pragma once
// Text as Jet 4 stores it in rows, long values and definitions: UTF-16LE, or "compressed":
// FF FE, then one-byte characters (U+0000 to U+00FF), each 0x00 byte switching between
// one-byte and two-byte (UTF-16LE) characters. Callers say how bad bytes are met.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillon::jet {

enum class TTextPolicy : std::uint8_t {
  // Never fails: a broken surrogate pair or an odd byte becomes U+FFFD. For values a
  // definition says are text, kept as the database holds them.
  Lenient,
  // Nothing where Lenient would put a U+FFFD. For text that must be sound: names, and text
  // columns that decide whether a row is one of its table's.
  Exact,
  // Nothing also for characters that text does not hold: controls other than tab, line
  // feed and carriage return, noncharacters, and private-use characters outside compressed
  // text (where binary bytes read as UTF-16 land often). For bytes that no definition
  // types, to tell text from binary; an FF FE start that is not compressed text is read
  // as UTF-16 beginning with U+FEFF.
  TextOnly,
};

// Jet text (compressed or UTF-16LE) as UTF-8; nothing when the policy refuses the bytes
// (never for Lenient).
std::optional<std::string> DecodeJetText(std::span<const std::uint8_t> bytes, TTextPolicy policy);

// UTF-16LE alone (no compressed form) as UTF-8, under the same policies.
std::optional<std::string> DecodeUtf16(std::span<const std::uint8_t> bytes, TTextPolicy policy);

// Lowercase hex digits, two per byte: how bytes that are not text are shown.
std::string HexText(std::span<const std::uint8_t> bytes);

}  // namespace quillon::jet
