#pragma once
// Text as Jet 4 stores it in rows and long values: UTF-16LE, or "compressed": FF FE, then
// one-byte characters (U+0000 to U+00FF), each 0x00 byte switching between one-byte and
// two-byte (UTF-16LE) characters.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillon {

// The text in UTF-8, or nothing when the bytes are not text: an odd length, a broken
// surrogate pair, or characters that text does not hold (controls other than tab, line
// feed and carriage return, noncharacters; private-use characters outside compressed text).
std::optional<std::string> DecodeJetText(std::span<const std::uint8_t> bytes);

// Lowercase hex digits, two per byte.
std::string HexText(std::span<const std::uint8_t> bytes);

}  // namespace quillon
