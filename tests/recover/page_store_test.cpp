// The page map written and read back, cut and damaged, and the page store over a fragment
// file with and without it: every page read back in any order equals what was written.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "core/errors.h"
#include "core/fragment_file_writer.h"
#include "core/kept_page_test.h"
#include "recover/fragment_page_store.h"
#include "recover/inflate_index.h"
#include "recover/page_map_reader.h"
#include "recover/page_map_writer.h"
#include "support/memory_file_system.h"
#include "support/zlib_helpers.h"

namespace quillon::recover {
namespace {

using TPage = std::array<std::uint8_t, 4096>;

// A data page of owner `owner`, its other bytes random (so that it barely compresses and
// the store's restart points are many).
TPage DataPage(std::mt19937& random, std::uint32_t owner) {
  TPage page;
  for (auto& byte : page) byte = static_cast<std::uint8_t>(random());
  page[0] = 0x01;
  page[1] = 0x01;
  for (int i = 0; i < 4; ++i) page[4 + i] = static_cast<std::uint8_t>(owner >> (8 * i));
  return page;
}

// A one-page definition of two columns, as the fixtures' are laid out.
TPage DefinitionPage() {
  TPage page{};
  const auto put16 = [&](std::size_t at, std::uint16_t v) {
    page[at] = static_cast<std::uint8_t>(v);
    page[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  const std::uint16_t length = 63 + 12 + 2 * 25 + 2 * 8;
  page[0] = 0x02;
  page[1] = 0x01;
  put16(2, static_cast<std::uint16_t>(4088 - length));
  put16(8, length);
  page[0x28] = 0x4E;
  put16(0x29, 2);
  put16(0x2B, 1);
  put16(0x2D, 2);
  page[0x2F] = 1;
  page[0x33] = 1;
  page[75] = 0x04;                // long
  page[100] = 0x0A;               // text
  put16(100 + 5, 1);
  return page;
}

struct TScanned {
  testing::TMemoryFileSystem Files;
  std::vector<TPage> Fragments;
  std::vector<std::int64_t> Offsets;
  TPage Definition = DefinitionPage();
  std::int64_t DefinitionOffset = 0;
};

// Writes a fragment file and its page map as a scan would: `count` fragments at 4096-byte
// steps, a definition page after the first tenth.
void Scan(TScanned& scan, std::size_t count) {
  std::mt19937 random(7);
  TFragmentFileWriter writer(scan.Files);
  writer.Create("f.frag");
  writer.WriteHeader("source.img", 1 << 30);
  TPageMapWriter map(scan.Files.Open("f.pagemap", TOpenMode::CreateExclusive), "f.pagemap");
  map.WriteHeader();
  std::int64_t offset = 8192;
  for (std::size_t i = 0; i < count; ++i) {
    if (i == count / 10) {
      scan.DefinitionOffset = offset;
      map.OfferPage(offset, scan.Definition);
      offset += 4096;
    }
    scan.Fragments.push_back(DataPage(random, static_cast<std::uint32_t>(i % 7 + 20)));
    scan.Offsets.push_back(offset);
    writer.AddFragment(scan.Fragments.back());
    map.AddFragment(offset, scan.Fragments.back());
    offset += 4096;
  }
  writer.Finish();
  writer.Close();
  map.Finish(offset, TPageMapScanEnd::Completed);
}

std::unique_ptr<TFragmentPageStore> OpenStore(TScanned& scan, bool withMap) {
  return std::make_unique<TFragmentPageStore>(
      scan.Files.Open("f.frag", TOpenMode::ReadShared), "f.frag",
      withMap ? scan.Files.Open("f.pagemap", TOpenMode::ReadShared) : nullptr, "f.pagemap",
      nullptr);
}

TEST(PageStore, ReadsEveryPageInAnyOrderWithItsSourceOffset) {
  TScanned scan;
  Scan(scan, 1200);  // about 4.7 MiB inflated: several restart points
  const auto store = OpenStore(scan, true);
  ASSERT_TRUE(store->HasOffsets());
  ASSERT_EQ(store->Count(), scan.Fragments.size() + 1);
  std::vector<std::size_t> order(store->Count());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(3));
  std::int64_t last = -1;
  for (std::size_t i = 0; i < store->Count(); ++i) {
    EXPECT_GT(store->Entry(i).SourceOffset, last) << "entries in source order";
    last = store->Entry(i).SourceOffset;
  }
  TPage page;
  for (const std::size_t i : order) {
    const TPageEntry entry = store->Entry(i);
    store->Read(i, page);
    if (entry.Kind == TPageKind::Definition) {
      EXPECT_EQ(entry.SourceOffset, scan.DefinitionOffset);
      EXPECT_EQ(page, scan.Definition);
      continue;
    }
    const auto f = static_cast<std::size_t>(
        std::find(scan.Offsets.begin(), scan.Offsets.end(), entry.SourceOffset) -
        scan.Offsets.begin());
    ASSERT_LT(f, scan.Fragments.size()) << "no fragment at " << entry.SourceOffset;
    ASSERT_EQ(page, scan.Fragments[f]) << "fragment " << f;
    EXPECT_EQ(entry.Owner, f % 7 + 20);
  }
}

// A body written as one deflate block still gets restart points: pages read in any order
// cost about one spacing of inflating each, not the body up to them.
TEST(InflateIndex, RestartsInsideOneLongDeflateBlock) {
  std::mt19937 random(11);
  std::vector<std::uint8_t> body(1200 * 4096);
  for (auto& byte : body) byte = static_cast<std::uint8_t>(random());
  std::vector<std::uint8_t> file(512, 0);
  const std::vector<std::uint8_t> stream = quillon::testing::DeflateAsOneBlock(body);
  file.insert(file.end(), stream.begin(), stream.end());
  quillon::testing::TMemoryFileSystem files;
  const auto stored = files.Put("one-block.frag", file);
  const auto opened = files.Open("one-block.frag", TOpenMode::ReadShared);
  TInflateIndex index(*opened, "one-block.frag");
  index.Build(body.size());
  EXPECT_GE(index.Points(), body.size() / (2 * TInflateIndex::kFirstSpacing));

  std::vector<std::size_t> order(body.size() / 4096);
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  order.resize(300);
  stored->Reads.clear();
  std::array<std::uint8_t, 4096> page{};
  for (const std::size_t i : order) {
    index.Read(i * 4096, page);
    ASSERT_TRUE(std::equal(page.begin(), page.end(), body.begin() + i * 4096)) << "page " << i;
  }
  std::uint64_t read = 0;
  for (const TByteRange& range : stored->Reads) read += range.Length;
  // A spacing (and one output buffer) of inflated bytes takes about 9/8 of it in this body,
  // plus one input buffer; from the body's start, half the body on average.
  EXPECT_LT(read, order.size() * (2 * TInflateIndex::kFirstSpacing + 65536));
}

TEST(PageStore, WithoutPageMapKeepsTheFileOrderAndSaysSo) {
  TScanned scan;
  Scan(scan, 40);
  const auto store = OpenStore(scan, false);
  EXPECT_FALSE(store->HasOffsets());
  ASSERT_EQ(store->Count(), 40u);
  TPage page;
  store->Read(39, page);
  EXPECT_EQ(page, scan.Fragments[39]);
  EXPECT_EQ(store->Entry(39).SourceOffset, -1);
  ASSERT_EQ(store->Notes().Warnings.size(), 1u);
  EXPECT_NE(store->Notes().Warnings[0].find("No page map \"f.pagemap\""), std::string::npos);
}

TEST(PageStore, RefusesThePageMapOfAnotherScan) {
  TScanned scan;
  Scan(scan, 40);
  TScanned other;
  Scan(other, 41);
  scan.Files.Put("f.pagemap", other.Files.Find("f.pagemap")->Data);
  const auto store = OpenStore(scan, true);
  EXPECT_FALSE(store->HasOffsets());
  EXPECT_EQ(store->Count(), 40u);
  ASSERT_FALSE(store->Notes().Warnings.empty());
  EXPECT_NE(store->Notes().Warnings.back().find("does not belong"), std::string::npos);
}

TEST(PageMap, ACutOrDamagedMapIsReadUpToItsFirstBadRecordAndSaysWhere) {
  TScanned scan;
  // 900 offsets, the definition page, 8100 offsets, the closing record.
  Scan(scan, 9000);
  const std::vector<std::uint8_t> whole = scan.Files.Find("f.pagemap")->Data;
  {
    testing::TMemoryFileSystem files;
    files.Put("m", whole);
    const TPageMapContents map = ReadPageMap(*files.Open("m", TOpenMode::ReadShared), "m");
    ASSERT_TRUE(map.Complete) << map.Problem;
    EXPECT_EQ(map.FragmentOffsets, scan.Offsets);
    ASSERT_EQ(map.Pages.size(), 1u);
    EXPECT_EQ(map.Pages[0].SourceOffset, scan.DefinitionOffset);
  }
  // Cut at every length from the header's end to one byte short, in coarse steps and near
  // the record edges: never complete, never more offsets than were whole.
  for (std::size_t length = 0; length < whole.size(); length += 997) {
    testing::TMemoryFileSystem files;
    files.Put("m", std::vector<std::uint8_t>(whole.begin(), whole.begin() + length));
    const TPageMapContents map = ReadPageMap(*files.Open("m", TOpenMode::ReadShared), "m");
    EXPECT_FALSE(map.Complete);
    EXPECT_NE(map.Problem.find("\"m\""), std::string::npos) << map.Problem;
    ASSERT_LE(map.FragmentOffsets.size(), scan.Offsets.size());
    EXPECT_TRUE(std::equal(map.FragmentOffsets.begin(), map.FragmentOffsets.end(),
                           scan.Offsets.begin()));
  }
  // One byte changed in the last offset record: the first record's offsets and the page
  // stay, the rest is refused.
  std::vector<std::uint8_t> damaged = whole;
  damaged[damaged.size() - 200] ^= 0x10;
  testing::TMemoryFileSystem files;
  files.Put("m", damaged);
  const TPageMapContents map = ReadPageMap(*files.Open("m", TOpenMode::ReadShared), "m");
  EXPECT_FALSE(map.Complete);
  EXPECT_NE(map.Problem.find("checksum"), std::string::npos) << map.Problem;
  EXPECT_EQ(map.FragmentOffsets.size(), 900u);
  EXPECT_EQ(map.Pages.size(), 1u);
}

TEST(KeptPageTest, TakesHeadersDefinitionsAndUsageMapsButNotRows) {
  EXPECT_EQ(ClassifyKeptPage(DefinitionPage()), TKeptPageKind::Definition);
  TPage header{};
  header[1] = 0x01;
  std::copy_n("Standard ACE DB", 15, header.begin() + 4);
  EXPECT_EQ(ClassifyKeptPage(header), TKeptPageKind::Header);
  header[5] = 'X';
  EXPECT_EQ(ClassifyKeptPage(header), std::nullopt);
  // A definition whose free space disagrees with its length, or with a column type no
  // database has, is no first page.
  TPage wrongFree = DefinitionPage();
  wrongFree[2] ^= 1;
  EXPECT_NE(ClassifyKeptPage(wrongFree), TKeptPageKind::Definition);
  TPage wrongType = DefinitionPage();
  wrongType[100] = 0x0D;
  EXPECT_NE(ClassifyKeptPage(wrongType), TKeptPageKind::Definition);
  // Random bytes: in 16 MiB at every 512-byte step, no header, no definition's first page.
  std::mt19937 random(11);
  TPage page;
  int heads = 0;
  for (int step = 0; step < 32768; ++step) {
    for (auto& byte : page) byte = static_cast<std::uint8_t>(random());
    page[0] = 0x02;
    page[1] = 0x01;  // past the first test, as one step in 65,536 is
    const auto kind = ClassifyKeptPage(page);
    heads += kind == TKeptPageKind::Definition || kind == TKeptPageKind::Header;
  }
  EXPECT_EQ(heads, 0);
}

}  // namespace
}  // namespace quillon::recover
