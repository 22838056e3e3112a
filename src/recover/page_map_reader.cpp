#include "recover/page_map_reader.h"

#include <zlib.h>

#include <cstring>

#include "core/kept_page_test.h"
#include "core/little_endian.h"

namespace quillon::recover {
namespace {

// The page map stores the scan's kinds; the store hands them on as its own.
constexpr int KindValue(auto kind) { return static_cast<int>(kind); }
static_assert(KindValue(TKeptPageKind::Definition) == KindValue(TPageKind::Definition));
static_assert(KindValue(TKeptPageKind::Header) == KindValue(TPageKind::Header));
static_assert(KindValue(TKeptPageKind::UsageMap) == KindValue(TPageKind::UsageMap));
static_assert(KindValue(TKeptPageKind::DefinitionContinuation) == kContinuationKind);

std::uint32_t U32(const std::uint8_t* p) { return static_cast<std::uint32_t>(LittleEndianAt<4>(p)); }
std::uint64_t U64(const std::uint8_t* p) { return LittleEndianAt<8>(p); }

bool ReadAll(TStream& file, void* buffer, std::size_t n) { return file.Read(buffer, n) == n; }

bool IsKeptKind(std::uint8_t kind) {
  return kind == static_cast<std::uint8_t>(TPageKind::Definition) ||
         kind == static_cast<std::uint8_t>(TPageKind::Header) ||
         kind == static_cast<std::uint8_t>(TPageKind::UsageMap) || kind == kContinuationKind;
}

}  // namespace

TPageMapContents ReadPageMap(TStream& file, const std::string& shownPath) {
  TPageMapContents map;
  const std::string named = "The page map \"" + shownPath + "\" ";
  std::uint8_t header[kPageMapHeaderSize];
  if (file.Seek(0, TSeekOrigin::Begin) != 0 || !ReadAll(file, header, sizeof header)) {
    map.Problem = named + "is shorter than its 32-byte header.";
    return map;
  }
  if (std::memcmp(header, kPageMapMagic.data(), kPageMapMagic.size()) != 0) {
    map.Problem = named + "is not a page map (it does not begin with \"QPAGEMAP\").";
    return map;
  }
  if (U32(header + 28) != crc32(0, header, 28)) {
    map.Problem = named + "has a damaged header (its checksum does not match).";
    return map;
  }
  if (U32(header + 8) != kPageMapVersion || U32(header + 12) != 4096) {
    map.Problem = named + "has version " + std::to_string(U32(header + 8)) +
                  ", which this program does not read (it reads version 1).";
    return map;
  }
  map.Readable = true;

  std::uint64_t at = kPageMapHeaderSize;
  std::vector<std::uint8_t> payload;
  const auto damaged = [&](const std::string& cause) {
    map.Problem = named + cause + " at byte " + std::to_string(at) + "; it was read up to there (" +
                  std::to_string(map.FragmentOffsets.size()) + " fragment offsets, " +
                  std::to_string(map.KeptRecords) + " kept pages).";
  };
  for (;;) {
    std::uint8_t head[kRecordHeadSize];
    const std::size_t got = file.Read(head, sizeof head);
    if (got == 0) {
      damaged("ends before its closing record (the scan that wrote it did not finish)");
      return map;
    }
    if (got != sizeof head) {
      damaged("is cut short inside a record");
      return map;
    }
    const auto type = static_cast<TPageMapRecord>(head[0]);
    const std::uint32_t count = U32(head + 4);
    std::uint64_t length = 0;
    if (type == TPageMapRecord::FragmentOffsets && count > 0 && count <= kOffsetsPerRecord) {
      length = std::uint64_t{8} * count;
    } else if (type == TPageMapRecord::KeptPage && count == 1 && IsKeptKind(head[1])) {
      length = 8 + 4096;
    } else if (type == TPageMapRecord::Closing && count == 0) {
      length = kClosingPayloadSize;
    } else {
      damaged("has a damaged record (unknown type or count)");
      return map;
    }
    payload.resize(length + kRecordCrcSize);
    if (!ReadAll(file, payload.data(), payload.size())) {
      damaged("is cut short inside a record");
      return map;
    }
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, head, sizeof head));
    crc = static_cast<std::uint32_t>(crc32(crc, payload.data(), static_cast<uInt>(length)));
    if (crc != U32(payload.data() + length)) {
      damaged("has a damaged record (its checksum does not match)");
      return map;
    }
    const std::uint8_t* p = payload.data();
    if (type == TPageMapRecord::FragmentOffsets) {
      for (std::uint32_t i = 0; i < count; ++i) {
        map.FragmentOffsets.push_back(static_cast<std::int64_t>(U64(p + 8 * i)));
      }
    } else if (type == TPageMapRecord::KeptPage) {
      const TKeptPageRef page{static_cast<std::int64_t>(U64(p)),
                              head[1] == kContinuationKind ? TPageKind::Definition
                                                           : static_cast<TPageKind>(head[1]),
                              at + kRecordHeadSize + 8};
      (head[1] == kContinuationKind ? map.Continuations : map.Pages).push_back(page);
      ++map.KeptRecords;
    } else {
      map.Fragments = U64(p);
      const std::uint64_t pages = U64(p + 8);
      map.EndPosition = static_cast<std::int64_t>(U64(p + 16));
      map.End = static_cast<TPageMapScanEnd>(U32(p + 24));
      map.FragmentsCrc = U32(p + 28);
      if (map.Fragments != map.FragmentOffsets.size() || pages != map.KeptRecords) {
        damaged("does not hold what its closing record counts");
        return map;
      }
      std::uint8_t extra;
      at += kRecordHeadSize + payload.size();
      if (file.Read(&extra, 1) != 0) {
        damaged("goes on after its closing record");
        return map;
      }
      map.Complete = true;
      return map;
    }
    at += kRecordHeadSize + payload.size();
  }
}

}  // namespace quillon::recover
