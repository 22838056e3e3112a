#include "rows/page_catalog.h"

#include <cstring>

#include "core/page_head.h"
#include "rows/byte_reading.h"

namespace quillon {

TPageCatalog::TPageCatalog() = default;
TPageCatalog::~TPageCatalog() = default;

void TPageCatalog::Add(std::uint64_t fragmentIndex, TPageBytes bytes) {
  if (bytes[0] != 1 || bytes[1] != 1) {
    ++ignored_;
    return;
  }
  const auto index = static_cast<TPageIndex>(pages_.size());
  if (index % kPagesPerBlock == 0) {
    blocks_.push_back(std::make_unique<std::uint8_t[]>(kPagesPerBlock * kFragmentSize));
  }
  std::memcpy(blocks_.back().get() + (index % kPagesPerBlock) * kFragmentSize, bytes.data(),
              kFragmentSize);

  const std::uint32_t owner = LoadU32(bytes, kOwnerOffset);
  const std::size_t fitting = (kFragmentSize - kRowTableOffset) / 2;
  const std::uint16_t claimed = LoadU16(bytes, kRowCountOffset);
  const auto slots = static_cast<std::uint16_t>(claimed < fitting ? claimed : fitting);
  const TPageKind kind = owner == kLvalOwner ? TPageKind::LongValue : TPageKind::Data;
  pages_.push_back({fragmentIndex, owner, slots, kind});
  if (kind == TPageKind::LongValue) {
    longValuePages_.push_back(index);
  } else {
    tables_[owner].push_back(index);
  }
}

TPageBytes TPageCatalog::Bytes(TPageIndex page) const {
  return TPageBytes(blocks_[page / kPagesPerBlock].get() + (page % kPagesPerBlock) * kFragmentSize,
                    kFragmentSize);
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
