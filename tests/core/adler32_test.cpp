// The writer's own Adler-32 against zlib's, where a wrong sum would end every fragment file
// with a check value that inflaters refuse.

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "core/adler32.h"

namespace quillon {
namespace {

std::uint32_t ZlibAdler(std::uint32_t adler, const std::vector<std::uint8_t>& data,
                        std::size_t from, std::size_t n) {
  return static_cast<std::uint32_t>(adler32(adler, data.data() + from, static_cast<uInt>(n)));
}

// Every length around the 32-byte rounds and the point where the sums are reduced, from
// every alignment, continuing from a start value as a body continued after a cut does.
TEST(Adler32Test, AgreesWithZlibOnEveryLengthAndAlignment) {
  std::mt19937 random(28);
  std::vector<std::uint8_t> data(20000);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 100; ++n) lengths.push_back(n);
  for (const std::size_t n : {5535u, 5536u, 5537u, 5552u, 5553u, 11072u, 11104u, 19983u}) {
    lengths.push_back(n);
  }
  for (const std::size_t n : lengths) {
    for (std::size_t from = 0; from < 16; ++from) {
      for (const std::uint32_t start : {1u, 0u, 0xfff0fff0u, static_cast<std::uint32_t>(random())}) {
        // zlib takes any 32-bit start; its halves are below 65521 in a real running sum.
        const std::uint32_t adler = (start >> 16) % 65521 << 16 | (start & 0xffff) % 65521;
        ASSERT_EQ(Adler32(adler, data.data() + from, n), ZlibAdler(adler, data, from, n))
            << "length " << n << " from " << from << " start " << adler;
      }
    }
  }
}

// The largest sums: bytes of 255 (and of 254 around them), with the running sum just below
// the modulus, over many reductions.
TEST(Adler32Test, LargestSumsDoNotOverflow) {
  for (const std::uint8_t fill : {std::uint8_t{255}, std::uint8_t{254}}) {
    std::vector<std::uint8_t> data(3 * 1024 * 1024 + 77, fill);
    const std::uint32_t start = 65520u << 16 | 65520u;
    EXPECT_EQ(Adler32(start, data.data(), data.size()), ZlibAdler(start, data, 0, data.size()));
    EXPECT_EQ(Adler32(1, data.data(), data.size()), ZlibAdler(1, data, 0, data.size()));
  }
}

// A sum taken in pieces equals the sum of the whole, as the writer takes it a fragment or a
// block at a time.
TEST(Adler32Test, PiecesContinueEachOther) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> data(1 << 20);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  std::uint32_t inPieces = 1;
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t n = std::min<std::size_t>(random() % 9000, data.size() - at);
    inPieces = Adler32(inPieces, data.data() + at, n);
    at += n;
  }
  EXPECT_EQ(inPieces, ZlibAdler(1, data, 0, data.size()));
}

}  // namespace
}  // namespace quillon
