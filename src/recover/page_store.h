#pragma once
// The pages recovery works from, wherever they are kept: a fragment file with the page map
// written beside it, a fragment file alone, or (in tests) a database image read whole.

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/page_head.h"

namespace quillon::recover {

enum class TPageKind : std::uint8_t {
  Data = 1,        // a data or long-value page (type 0x01): what the fragment file holds
  Definition = 2,  // a table-definition page (type 0x02), first or continuation
  Header = 3,      // a database's page 0 ("Standard Jet DB" / "Standard ACE DB")
  UsageMap = 4,    // a usage-map page (type 0x05)
};

struct TPageEntry {
  std::int64_t SourceOffset = -1;  // where the page began on the source; -1 when not known
  TPageKind Kind = TPageKind::Data;
  std::uint32_t Owner = 0;  // bytes 4..7 of a data page (jet::kLvalOwner for LVAL); else 0
};

// Entries are in source order (by SourceOffset) where offsets are known, else in the order
// the fragment file holds them.
class IPageStore {
 public:
  virtual ~IPageStore() = default;
  virtual std::size_t Count() const = 0;
  virtual TPageEntry Entry(std::size_t index) const = 0;
  // True when the store knows every page's source offset (a page map was there).
  virtual bool HasOffsets() const = 0;
  // Where a data page lies in the fragment file, as `quillon-cli rows` numbers it (f<N> in
  // its row references); stores without a fragment file give their own index.
  virtual std::uint64_t FragmentNumber(std::size_t index) const { return index; }
  // Copies the page's bytes. Throws EQuillonError naming the file and the cause when they
  // cannot be read. Pages may be read again from disk: callers keep only what they need.
  virtual void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const = 0;
};

}  // namespace quillon::recover
