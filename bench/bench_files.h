#pragma once
// What the benchmarks share: the test file written from a repeated pattern, and random bytes
// that hold no page (the same every run, so runs compare).

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace quillon::bench {

// Writes size bytes to path: pattern over and over, the last copy cut short.
inline void WriteFile(const std::string& path, std::int64_t size,
                      const std::vector<std::uint8_t>& pattern) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::int64_t written = 0; written < size;) {
    const auto n = static_cast<std::streamsize>(
        std::min<std::int64_t>(static_cast<std::int64_t>(pattern.size()), size - written));
    out.write(reinterpret_cast<const char*>(pattern.data()), n);
    written += n;
  }
}

// n bytes of xorshift noise from a fixed seed.
inline std::vector<std::uint8_t> RandomBytes(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  std::uint64_t state = 88172645463325252ull;
  for (auto& b : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

}  // namespace quillon::bench
