#include "rows/page_catalog.h"

#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "core/little_endian.h"
#include "core/page_head.h"

namespace quillon {
namespace {

// A fast hash of a page: only to find candidate copies, which are then compared byte for
// byte. Four lanes of eight bytes each, independent of each other, so that the multiplies
// overlap instead of waiting on one another; then the lanes are folded together.
std::uint64_t PageHash(TPageBytes bytes) {
  constexpr std::uint64_t kMultiplier = 0xFF51AFD7ED558CCDull;
  std::uint64_t lanes[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full,
                            0x165667B19E3779F9ull, 0x27D4EB2F165667C5ull};
  for (std::size_t at = 0; at < kFragmentSize; at += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + at + 8 * lane, 8);
      lanes[lane] = (lanes[lane] ^ word) * kMultiplier;
      lanes[lane] ^= lanes[lane] >> 29;
    }
  }
  std::uint64_t hash = 0;
  for (const std::uint64_t lane : lanes) {
    hash = (hash ^ lane) * kMultiplier;
    hash ^= hash >> 32;
  }
  return hash;
}

}  // namespace

TPageCatalog::TPageCatalog() = default;
TPageCatalog::~TPageCatalog() = default;

void TPageCatalog::SetSpill(TStream* spill, std::string spillName, std::size_t memoryPages) {
  spill_ = spill;
  spillName_ = std::move(spillName);
  memoryPages_ = spill ? memoryPages : SIZE_MAX;
}

std::uint8_t* TPageCatalog::CacheBuffer(std::uint32_t store) const {
  std::unique_ptr<std::uint8_t[]> buffer;
  if (cache_.size() >= kCachePages) {
    buffer = std::move(cache_.back().second);
    cacheAt_.erase(cache_.back().first);
    cache_.pop_back();
  } else {
    buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kFragmentSize);
  }
  cache_.emplace_front(store, std::move(buffer));
  cacheAt_[store] = cache_.begin();
  return cache_.front().second.get();
}

const std::uint8_t* TPageCatalog::StoredBytes(std::uint32_t store) const {
  if (store < memoryPages_) {
    return blocks_[store / kPagesPerBlock].get() + (store % kPagesPerBlock) * kFragmentSize;
  }
  if (store == lastStore_) return lastBytes_;
  if (const auto found = cacheAt_.find(store); found != cacheAt_.end()) {
    cache_.splice(cache_.begin(), cache_, found->second);
    lastStore_ = store;
    return lastBytes_ = found->second->second.get();
  }
  const std::size_t spilled = store - memoryPages_;
  const std::uint64_t begin = spillOffsets_[spilled];
  const auto length = static_cast<std::size_t>(spillOffsets_[spilled + 1] - begin);
  const std::uint8_t* record = nullptr;
  if (begin >= writtenBytes_) {
    record = pending_.get() + (begin - writtenBytes_);
  } else {
    record = SpilledRecord(store, begin, length);
  }
  std::uint8_t* page = CacheBuffer(store);
  ExpandSpilledPage(record, length, page);
  lastStore_ = store;
  return lastBytes_ = page;
}

// Pages are mostly asked for in the order they were spilled (a table's pages one after the
// other): a page asked for right after the one before it in the temporary file reads the
// records that follow along with it, one read for many pages. Any other is read alone.
const std::uint8_t* TPageCatalog::SpilledRecord(std::uint32_t store, std::uint64_t begin,
                                                std::size_t length) const {
  const bool follows = store == lastReadStore_ + 1;
  lastReadStore_ = store;
  if (begin >= readBegin_ && begin + length <= readEnd_) {
    return readBuffer_.get() + (begin - readBegin_);
  }
  if (!readBuffer_) readBuffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBytes);
  const std::size_t wanted =
      follows ? static_cast<std::size_t>(
                    std::min<std::uint64_t>(kReadBytes, std::max(writtenBytes_ - begin,
                                                                 std::uint64_t{length})))
              : length;
  const auto offset = static_cast<std::int64_t>(begin);
  readBegin_ = readEnd_ = 0;
  const std::size_t got =
      spill_->Seek(offset, TSeekOrigin::Begin) == offset ? spill_->Read(readBuffer_.get(), wanted)
                                                         : 0;
  if (got < length || got > wanted) {
    throw EQuillonError("Cannot read the temporary file \"" + spillName_ +
                        "\" that holds the pages read so far.");
  }
  readBegin_ = begin;
  readEnd_ = begin + got;
  return readBuffer_.get();
}

void TPageCatalog::ExpandSpilledPage(const std::uint8_t* record, std::size_t length,
                                     std::uint8_t* page) const {
  const std::size_t head = LittleEndianAt<2>(record);
  const std::size_t tail = LittleEndianAt<2>(record + 2);
  if (head > tail || tail > kFragmentSize || length != 4 + head + (kFragmentSize - tail)) {
    throw EQuillonError("The temporary file \"" + spillName_ +
                        "\" that holds the pages read so far has been changed meanwhile.");
  }
  std::memcpy(page, record + 4, head);
  std::memset(page + head, 0, tail - head);
  std::memcpy(page + tail, record + 4 + head, kFragmentSize - tail);
}

void TPageCatalog::FlushPending() {
  if (pendingBytes_ == 0) return;
  const auto offset = static_cast<std::int64_t>(writtenBytes_);
  if (spill_->Seek(offset, TSeekOrigin::Begin) != offset ||
      spill_->Write(pending_.get(), pendingBytes_) != pendingBytes_) {
    throw EQuillonError("Cannot write the temporary file \"" + spillName_ +
                        "\" that holds the pages read so far (is its disk full?).");
  }
  writtenBytes_ += pendingBytes_;
  pendingBytes_ = 0;
}

void TPageCatalog::FinishAdding() { FlushPending(); }

void TPageCatalog::Spill(TPageBytes bytes) {
  // The free space between the row-offset table and the rows is zeros on most pages: it is
  // left out, so that less is written and read back. The record says what was left out.
  const std::size_t claimed = jet::StatedRowCount(bytes);
  const std::size_t head = std::min(kFragmentSize, kRowTableAt + 2 * claimed);
  std::size_t tail = head;
  while (tail % 8 != 0 && tail < kFragmentSize && bytes[tail] == 0) ++tail;
  if (tail % 8 == 0) {  // eight bytes at a time: a page is mostly free space
    for (std::uint64_t word = 0; tail < kFragmentSize; tail += 8) {
      std::memcpy(&word, bytes.data() + tail, 8);
      if (word != 0) break;
    }
    while (tail < kFragmentSize && bytes[tail] == 0) ++tail;
  }
  const std::size_t length = 4 + head + (kFragmentSize - tail);
  if (pendingBytes_ + length > kWriteBytes) FlushPending();
  if (!pending_) pending_ = std::make_unique_for_overwrite<std::uint8_t[]>(kWriteBytes);
  std::uint8_t* record = pending_.get() + pendingBytes_;
  PutLittleEndian<2>(record, head);
  PutLittleEndian<2>(record + 2, tail);
  std::memcpy(record + 4, bytes.data(), head);
  std::memcpy(record + 4 + head, bytes.data() + tail, kFragmentSize - tail);
  pendingBytes_ += length;
  if (spillOffsets_.empty()) spillOffsets_.push_back(0);
  spillOffsets_.push_back(spillOffsets_.back() + length);
}

void TPageCatalog::GrowHashTable() {
  std::vector<THashEntry> old(std::max<std::size_t>(1024, storeByHash_.size() * 2),
                              THashEntry{0, kNoStore});
  old.swap(storeByHash_);
  const std::size_t mask = storeByHash_.size() - 1;
  for (const THashEntry& entry : old) {
    if (entry.Store == kNoStore) continue;
    std::size_t at = entry.Hash & mask;
    while (storeByHash_[at].Store != kNoStore) at = (at + 1) & mask;
    storeByHash_[at] = entry;
  }
}

std::uint32_t TPageCatalog::Store(TPageBytes bytes) {
  const std::uint64_t hash = PageHash(bytes);
  if (2 * (stored_ + 1) > storeByHash_.size()) GrowHashTable();
  const std::size_t mask = storeByHash_.size() - 1;
  std::size_t at = hash & mask;
  for (; storeByHash_[at].Store != kNoStore; at = (at + 1) & mask) {
    const THashEntry& entry = storeByHash_[at];
    if (entry.Hash == hash &&
        std::memcmp(StoredBytes(entry.Store), bytes.data(), kFragmentSize) == 0) {
      return entry.Store;
    }
  }
  const auto store = static_cast<std::uint32_t>(stored_);
  if (store < memoryPages_) {
    if (store % kPagesPerBlock == 0) {
      // Not zeroed first: every byte of a block is written before it is read.
      blocks_.push_back(
          std::make_unique_for_overwrite<std::uint8_t[]>(kPagesPerBlock * kFragmentSize));
    }
    std::memcpy(blocks_.back().get() + (store % kPagesPerBlock) * kFragmentSize, bytes.data(),
                kFragmentSize);
  } else {
    Spill(bytes);
  }
  ++stored_;
  storeByHash_[at] = {hash, store};
  return store;
}

void TPageCatalog::Add(std::uint64_t fragmentIndex, TPageBytes bytes) {
  if (bytes[kPageTypeAt] != kDataPageType || bytes[kPageTypeAt + 1] != 0x01) {
    ++ignored_;
    return;
  }
  const auto index = static_cast<TPageIndex>(pages_.size());
  const std::uint32_t store = Store(bytes);

  const std::uint32_t owner = jet::StatedOwner(bytes);
  const std::size_t fitting = (kFragmentSize - kRowTableAt) / 2;
  const std::uint16_t claimed = jet::StatedRowCount(bytes);
  const auto slots = static_cast<std::uint16_t>(claimed < fitting ? claimed : fitting);
  const TCatalogPageKind kind =
      owner == kLvalOwner ? TCatalogPageKind::LongValue : TCatalogPageKind::Data;
  pages_.push_back({fragmentIndex, store, owner, slots, kind});
  if (kind == TCatalogPageKind::LongValue) {
    longValuePages_.push_back(index);
  } else {
    tables_[owner].push_back(index);
  }
}

TPageBytes TPageCatalog::Bytes(TPageIndex page) const {
  return TPageBytes(StoredBytes(pages_[page].Store), kFragmentSize);
}

TRowSlot TPageCatalog::SlotIn(TPageBytes bytes, std::uint16_t slotCount, std::uint16_t slot) {
  return jet::RowSlotAt(bytes, slotCount, slot);
}

std::span<const std::uint8_t> TPageCatalog::RowBytes(TPageIndex page, std::uint16_t slot) const {
  const TRowSlot s = Slot(page, slot);
  if (!s.Valid) return {};
  return Bytes(page).subspan(s.Start, s.End - s.Start);
}

}  // namespace quillon
