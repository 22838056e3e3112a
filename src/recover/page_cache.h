#pragma once
// Pages kept in memory once read, for a store whose pages cost much to read out of order.
// A data page of a fragment file is read by inflating from the nearest point before it
// (up to 128 KiB and more of inflating for 4 KiB), while recovery reads pages in no order
// and often again: placing pages judges a page's rows against several definitions and
// reads a usage map or catalog page again after each change of its database; a table's
// pages are read in its page numbers' order, not the file's. Kept, a page costs a copy.
// At most `budget` pages are kept; when more are read, the one read longest ago goes.

#include <cstddef>
#include <list>
#include <unordered_map>

#include "recover/page_slots.h"
#include "recover/page_store.h"

namespace quillon::recover {

class TPageCache final : public IPageStore {
 public:
  static constexpr std::size_t kDefaultBudget = 8192;  // pages: 32 MiB
  // Pages after a page not kept that are read with it: the next pages of the store come
  // next in the fragment file, where going on costs little and coming back later costs an
  // inflate from a point each.
  static constexpr std::size_t kReadAhead = 16;

  explicit TPageCache(const IPageStore& inner, std::size_t budget = kDefaultBudget)
      : inner_(inner), budget_(budget == 0 ? 1 : budget) {}

  std::size_t Count() const override { return inner_.Count(); }
  TPageEntry Entry(std::size_t index) const override { return inner_.Entry(index); }
  bool HasOffsets() const override { return inner_.HasOffsets(); }
  std::uint64_t FragmentNumber(std::size_t index) const override {
    return inner_.FragmentNumber(index);
  }
  // Throws as the inner store does; nothing is kept of a page that could not be read.
  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override;

  // Pages read from the inner store so far.
  std::size_t InnerReads() const { return innerReads_; }

 private:
  struct TKept {
    std::size_t Index = 0;
    TPage Page{};
  };
  const TPage& Keep(std::size_t index) const;

  const IPageStore& inner_;
  const std::size_t budget_;
  mutable std::list<TKept> kept_;  // most recently read first
  mutable std::unordered_map<std::size_t, std::list<TKept>::iterator> where_;
  mutable std::size_t innerReads_ = 0;
};

}  // namespace quillon::recover
