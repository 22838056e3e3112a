#pragma once
// The data and long-value (LVAL) pages of a fragment file, kept in file order, with their
// row-offset tables checked against the page. Data pages are grouped by their owner field,
// the page number of the table definition they belong to.
//
// Identical pages (copies of one database, a page repeated by a damaged file) are stored
// once. Up to a budget the pages are held in memory; past it, when a spill stream is given,
// they go to that stream and are read back through a small cache, so that memory stays
// bounded whatever the size of the file.

#include <cstdint>
#include <map>
#include <memory>
#include <list>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/fragment_file_format.h"
#include "core/stream.h"
#include "jet/row_slots.h"

namespace quillon {

using jet::kRowOffsetMask;
using jet::kRowDeletedFlag;
using jet::kRowOverflowFlag;

using TPageBytes = std::span<const std::uint8_t, kFragmentSize>;

// A page's place in the catalog: pages are numbered 0, 1, 2, ... in file order.
using TPageIndex = std::uint32_t;

enum class TCatalogPageKind : std::uint8_t {
  Data,       // a table's data page: rows of one table
  LongValue,  // an LVAL page: parts of memo and OLE values
};

using jet::TRowSlot;

class TPageCatalog {
 public:
  TPageCatalog();
  ~TPageCatalog();

  // Pages past the first memoryPages distinct ones go to `spill` (read and write, empty),
  // named `spillName` in error texts. Call before the first Add. Without a spill stream all
  // pages are held in memory.
  void SetSpill(TStream* spill, std::string spillName, std::size_t memoryPages);
  // Writes the spilled pages still held back; call after the last Add. Throws EQuillonError
  // when the spill stream fails.
  void FinishAdding();
  TPageCatalog(const TPageCatalog&) = delete;
  TPageCatalog& operator=(const TPageCatalog&) = delete;

  // Keeps a copy of the fragment when it begins like a data or LVAL page (01 01); anything
  // else is counted in IgnoredFragments. Throws EQuillonError when the spill stream fails.
  void Add(std::uint64_t fragmentIndex, TPageBytes bytes);

  std::size_t PageCount() const { return pages_.size(); }
  std::uint64_t IgnoredFragments() const { return ignored_; }
  // Pages stored, copies counted once, and how many of them went to the spill stream.
  std::size_t DistinctPages() const { return stored_; }
  std::size_t SpilledPages() const { return stored_ > memoryPages_ ? stored_ - memoryPages_ : 0; }

  // The page's bytes. A spilled page's bytes stay valid until a few thousand other spilled
  // pages have been read: copy what is kept longer. Throws EQuillonError when the spill
  // stream cannot be read.
  TPageBytes Bytes(TPageIndex page) const;
  std::uint64_t FragmentOf(TPageIndex page) const { return pages_[page].Fragment; }
  TCatalogPageKind KindOf(TPageIndex page) const { return pages_[page].Kind; }
  std::uint32_t OwnerOf(TPageIndex page) const { return pages_[page].Owner; }
  // Pages with the same stored copy hold the same bytes.
  std::uint32_t StoredCopyOf(TPageIndex page) const { return pages_[page].Store; }

  // Entries of the row-offset table that fit in the page; more claimed rows are ignored.
  std::uint16_t SlotCount(TPageIndex page) const { return pages_[page].Slots; }
  // slot < SlotCount(page).
  TRowSlot Slot(TPageIndex page, std::uint16_t slot) const {
    return SlotIn(Bytes(page), SlotCount(page), slot);
  }
  // The same from the page's bytes, for reading every slot of a page with one look-up.
  static TRowSlot SlotIn(TPageBytes bytes, std::uint16_t slotCount, std::uint16_t slot);
  // The bytes of a valid slot; empty for an invalid one.
  std::span<const std::uint8_t> RowBytes(TPageIndex page, std::uint16_t slot) const;

  // Data pages by owner, each list in file order.
  const std::map<std::uint32_t, std::vector<TPageIndex>>& Tables() const { return tables_; }
  const std::vector<TPageIndex>& LongValuePages() const { return longValuePages_; }

 private:
  struct TPageInfo {
    std::uint64_t Fragment;
    std::uint32_t Store;  // the stored copy: index among the distinct pages
    std::uint32_t Owner;
    std::uint16_t Slots;
    TCatalogPageKind Kind;
  };
  static constexpr std::size_t kPagesPerBlock = 256;  // 1 MiB blocks: no copying on growth
  static constexpr std::size_t kCachePages = 4096;    // spilled pages read back: 16 MiB
  static constexpr std::size_t kWritePages = 256;     // spilled pages written together

  const std::uint8_t* StoredBytes(std::uint32_t store) const;
  std::uint32_t Store(TPageBytes bytes);

  std::vector<TPageInfo> pages_;
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
  std::size_t stored_ = 0;
  // The stored copies by page hash: open addressing, linear probing, at most half full.
  // An empty entry has Store == kNoStore. Copies whose hashes agree lie in one probe run.
  struct THashEntry {
    std::uint64_t Hash;
    std::uint32_t Store;
  };
  static constexpr std::uint32_t kNoStore = UINT32_MAX;
  std::vector<THashEntry> storeByHash_;
  void GrowHashTable();
  TStream* spill_ = nullptr;
  std::string spillName_;
  std::size_t memoryPages_ = SIZE_MAX;
  // Spilled pages read back, most recently used first.
  mutable std::list<std::pair<std::uint32_t, std::unique_ptr<std::uint8_t[]>>> cache_;
  mutable std::unordered_map<std::uint32_t, decltype(cache_)::iterator> cacheAt_;
  // The page asked for last: most calls ask for the same page again.
  mutable std::uint32_t lastStore_ = UINT32_MAX;
  mutable const std::uint8_t* lastBytes_ = nullptr;
  // Spilled pages, each a record: the lengths of the head and where the tail begins (two
  // 16-bit numbers), the head (header and row-offset table), the tail (the rows); the zeros
  // between are left out. Records not yet written follow the written ones.
  static constexpr std::size_t kWriteBytes = kWritePages * kFragmentSize;
  std::vector<std::uint64_t> spillOffsets_;  // where each spilled page's record begins; and
                                             // after the last, where it ends
  std::unique_ptr<std::uint8_t[]> pending_;  // kWriteBytes
  std::size_t pendingBytes_ = 0;
  std::uint64_t writtenBytes_ = 0;  // the stream's length
  // Records read back from the stream: those from readBegin_ to readEnd_ (stream offsets).
  static constexpr std::size_t kReadBytes = 1 << 20;
  mutable std::unique_ptr<std::uint8_t[]> readBuffer_;
  mutable std::uint64_t readBegin_ = 0;
  mutable std::uint64_t readEnd_ = 0;
  mutable std::uint32_t lastReadStore_ = UINT32_MAX - 1;  // the spilled page read last
  const std::uint8_t* SpilledRecord(std::uint32_t store, std::uint64_t begin,
                                    std::size_t length) const;
  void Spill(TPageBytes bytes);
  void FlushPending();
  std::uint8_t* CacheBuffer(std::uint32_t store) const;
  void ExpandSpilledPage(const std::uint8_t* record, std::size_t length,
                         std::uint8_t* page) const;
  std::map<std::uint32_t, std::vector<TPageIndex>> tables_;
  std::vector<TPageIndex> longValuePages_;
  std::uint64_t ignored_ = 0;
};

}  // namespace quillon
