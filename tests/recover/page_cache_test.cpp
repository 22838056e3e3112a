// Pages kept once read: the same bytes as the store they come from, each read from it once
// while it stays kept, never more kept than the budget, and a page that cannot be read is
// a failure every time it is asked for, never bytes.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "core/errors.h"
#include "recover/page_cache.h"

namespace quillon::recover {
namespace {

// Page i filled with the byte i; the pages in `broken` cannot be read. Counts every read.
class TCountingStore final : public IPageStore {
 public:
  TCountingStore(std::size_t count, std::set<std::size_t> broken = {})
      : count_(count), broken_(std::move(broken)) {}
  std::size_t Count() const override { return count_; }
  TPageEntry Entry(std::size_t index) const override {
    return {static_cast<std::int64_t>(index * kPageSize), TPageKind::Data, 7};
  }
  bool HasOffsets() const override { return true; }
  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override {
    reads_.push_back(index);
    if (broken_.contains(index)) throw EQuillonError("page " + std::to_string(index) + " lost");
    std::fill(out.begin(), out.end(), static_cast<std::uint8_t>(index));
  }
  mutable std::vector<std::size_t> reads_;

 private:
  std::size_t count_;
  std::set<std::size_t> broken_;
};

bool Holds(const TPage& page, std::size_t index) {
  return std::all_of(page.begin(), page.end(),
                     [&](std::uint8_t b) { return b == static_cast<std::uint8_t>(index); });
}

TEST(PageCache, GivesTheStoresBytesAndReadsEachPageOnceWhileKept) {
  const TCountingStore store(100);
  const TPageCache cache(store, 64);
  EXPECT_EQ(cache.Count(), 100u);
  EXPECT_EQ(cache.Entry(5).SourceOffset, 5 * static_cast<std::int64_t>(kPageSize));
  TPage page{};
  // Out of order and again, as placing pages reads them.
  for (const std::size_t index : {40, 3, 40, 7, 3, 99, 41, 3}) {
    cache.Read(index, page);
    EXPECT_TRUE(Holds(page, index)) << index;
  }
  std::multiset<std::size_t> reads(store.reads_.begin(), store.reads_.end());
  for (const std::size_t index : reads) EXPECT_EQ(reads.count(index), 1u) << index;
  // 41 and 7 came with the pages before them, read ahead.
  EXPECT_TRUE(reads.contains(41));
  EXPECT_TRUE(reads.contains(7));
  EXPECT_EQ(cache.InnerReads(), store.reads_.size());
}

TEST(PageCache, KeepsNoMoreThanItsBudgetAndLetsGoTheLeastRecentlyRead) {
  const TCountingStore store(1000);
  const TPageCache cache(store, 8);  // reads 3 pages ahead at most
  TPage page{};
  cache.Read(0, page);  // keeps 0..3
  for (std::size_t index = 100; index < 900; index += 100) {
    cache.Read(0, page);  // 0 stays the most recently read
    cache.Read(index, page);
  }
  const std::size_t before = store.reads_.size();
  cache.Read(0, page);
  EXPECT_EQ(store.reads_.size(), before);  // still kept
  cache.Read(100, page);
  EXPECT_GT(store.reads_.size(), before);  // let go long since: read again
  EXPECT_TRUE(Holds(page, 100));
}

TEST(PageCache, APageThatCannotBeReadFailsEveryTimeAndStopsNoOtherRead) {
  const TCountingStore store(20, {5});
  const TPageCache cache(store, 64);
  TPage page{};
  cache.Read(2, page);  // reads ahead as far as page 5, which fails and is not kept
  EXPECT_TRUE(Holds(page, 2));
  EXPECT_THROW(cache.Read(5, page), EQuillonError);
  EXPECT_THROW(cache.Read(5, page), EQuillonError);
  cache.Read(6, page);
  EXPECT_TRUE(Holds(page, 6));
}

}  // namespace
}  // namespace quillon::recover
