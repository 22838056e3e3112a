#include "rows/page_catalog.h"

#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "core/page_head.h"
#include "rows/byte_reading.h"

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

const std::uint8_t* TPageCatalog::StoredBytes(std::uint32_t store) const {
  if (store < memoryPages_) {
    return blocks_[store / kPagesPerBlock].get() + (store % kPagesPerBlock) * kFragmentSize;
  }
  if (store >= memoryPages_ + written_) {
    return pending_.get() + (store - memoryPages_ - written_) * kFragmentSize;
  }
  if (store == lastStore_) return lastBytes_;
  lastStore_ = store;
  if (const auto found = cacheAt_.find(store); found != cacheAt_.end()) {
    cache_.splice(cache_.begin(), cache_, found->second);
    return lastBytes_ = found->second->second.get();
  }
  std::unique_ptr<std::uint8_t[]> buffer;
  if (cache_.size() >= kCachePages) {
    buffer = std::move(cache_.back().second);
    cacheAt_.erase(cache_.back().first);
    cache_.pop_back();
  } else {
    buffer = std::make_unique<std::uint8_t[]>(kFragmentSize);
  }
  const auto offset = static_cast<std::int64_t>((store - memoryPages_) * kFragmentSize);
  if (spill_->Seek(offset, TSeekOrigin::Begin) != offset ||
      spill_->Read(buffer.get(), kFragmentSize) != kFragmentSize) {
    throw EQuillonError("Cannot read the temporary file \"" + spillName_ +
                        "\" that holds the pages read so far.");
  }
  cache_.emplace_front(store, std::move(buffer));
  cacheAt_[store] = cache_.begin();
  return lastBytes_ = cache_.front().second.get();
}

void TPageCatalog::FlushPending() {
  if (pendingPages_ == 0) return;
  const auto offset = static_cast<std::int64_t>(written_ * kFragmentSize);
  const std::size_t bytes = pendingPages_ * kFragmentSize;
  if (spill_->Seek(offset, TSeekOrigin::Begin) != offset ||
      spill_->Write(pending_.get(), bytes) != bytes) {
    throw EQuillonError("Cannot write the temporary file \"" + spillName_ +
                        "\" that holds the pages read so far (is its disk full?).");
  }
  written_ += pendingPages_;
  pendingPages_ = 0;
}

void TPageCatalog::FinishAdding() { FlushPending(); }

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
      blocks_.push_back(std::make_unique<std::uint8_t[]>(kPagesPerBlock * kFragmentSize));
    }
    std::memcpy(blocks_.back().get() + (store % kPagesPerBlock) * kFragmentSize, bytes.data(),
                kFragmentSize);
  } else {
    if (pendingPages_ == kWritePages) FlushPending();
    if (!pending_) pending_ = std::make_unique<std::uint8_t[]>(kWritePages * kFragmentSize);
    std::memcpy(pending_.get() + pendingPages_ * kFragmentSize, bytes.data(), kFragmentSize);
    ++pendingPages_;
  }
  ++stored_;
  storeByHash_[at] = {hash, store};
  return store;
}

void TPageCatalog::Add(std::uint64_t fragmentIndex, TPageBytes bytes) {
  if (bytes[0] != 1 || bytes[1] != 1) {
    ++ignored_;
    return;
  }
  const auto index = static_cast<TPageIndex>(pages_.size());
  const std::uint32_t store = Store(bytes);

  const std::uint32_t owner = LoadU32(bytes, kOwnerOffset);
  const std::size_t fitting = (kFragmentSize - kRowTableOffset) / 2;
  const std::uint16_t claimed = LoadU16(bytes, kRowCountOffset);
  const auto slots = static_cast<std::uint16_t>(claimed < fitting ? claimed : fitting);
  const TPageKind kind = owner == kLvalOwner ? TPageKind::LongValue : TPageKind::Data;
  pages_.push_back({fragmentIndex, store, owner, slots, kind});
  if (kind == TPageKind::LongValue) {
    longValuePages_.push_back(index);
  } else {
    tables_[owner].push_back(index);
  }
}

TPageBytes TPageCatalog::Bytes(TPageIndex page) const {
  return TPageBytes(StoredBytes(pages_[page].Store), kFragmentSize);
}

TRowSlot TPageCatalog::Slot(TPageIndex page, std::uint16_t slot) const {
  const TPageBytes bytes = Bytes(page);
  const std::uint16_t entry = LoadU16(bytes, kRowTableOffset + 2u * slot);
  TRowSlot result;
  result.Flags = static_cast<std::uint16_t>(entry & (kRowDeletedFlag | kRowOverflowFlag));
  result.Start = static_cast<std::uint16_t>(entry & kRowOffsetMask);
  result.End = slot == 0 ? static_cast<std::uint16_t>(kFragmentSize)
                         : static_cast<std::uint16_t>(
                               LoadU16(bytes, kRowTableOffset + 2u * (slot - 1)) & kRowOffsetMask);
  const std::size_t tableEnd = kRowTableOffset + 2u * SlotCount(page);
  result.Valid = result.Start >= tableEnd && result.Start < result.End &&
                 result.End <= kFragmentSize;
  return result;
}

std::span<const std::uint8_t> TPageCatalog::RowBytes(TPageIndex page, std::uint16_t slot) const {
  const TRowSlot s = Slot(page, slot);
  if (!s.Valid) return {};
  return Bytes(page).subspan(s.Start, s.End - s.Start);
}

}  // namespace quillon
