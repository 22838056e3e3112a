#pragma once
// A page store over a raw image held in memory, for tests and the benchmark: every 512-byte
// step classified as the scan does (data pages by the candidate test), with its offset known.
// A page cut short by the end of the image is not kept: its missing bytes are not zeros.

#include <cstring>
#include <string_view>
#include <vector>

#include "core/page_test.h"
#include "recover/page_store.h"

namespace quillon::recover::testing {

class TImagePageStore : public IPageStore {
 public:
  explicit TImagePageStore(std::vector<std::uint8_t> image) : image_(std::move(image)) {
    for (std::size_t at = 0; at + kPageSize <= image_.size(); at += 512) {
      std::uint8_t page[kPageSize] = {};
      std::memcpy(page, image_.data() + at, std::min(kPageSize, image_.size() - at));
      TPageEntry entry;
      entry.SourceOffset = static_cast<std::int64_t>(at);
      PageHead head;
      std::memcpy(&head, page, sizeof head);
      if (IsCandidatePage(head)) {
        entry.Kind = TPageKind::Data;
        entry.Owner = head.OwnerPage;
      } else if (page[0] == 0x02 && page[1] == 0x01) {
        entry.Kind = TPageKind::Definition;
      } else if (page[0] == 0x05 && page[1] == 0x01) {
        entry.Kind = TPageKind::UsageMap;
      } else if (page[0] == 0 && page[1] == 1 && page[2] == 0 && page[3] == 0 &&
                 (std::memcmp(page + 4, "Standard Jet DB", 15) == 0 ||
                  std::memcmp(page + 4, "Standard ACE DB", 15) == 0)) {
        entry.Kind = TPageKind::Header;
      } else {
        continue;
      }
      entries_.push_back(entry);
    }
  }

  std::size_t Count() const override { return entries_.size(); }
  TPageEntry Entry(std::size_t index) const override { return entries_[index]; }
  bool HasOffsets() const override { return true; }
  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override {
    const auto at = static_cast<std::size_t>(entries_[index].SourceOffset);
    std::memset(out.data(), 0, out.size());
    std::memcpy(out.data(), image_.data() + at, std::min(kPageSize, image_.size() - at));
  }

 private:
  std::vector<std::uint8_t> image_;
  std::vector<TPageEntry> entries_;
};

}  // namespace quillon::recover::testing
