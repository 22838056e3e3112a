#include "recover/page_map_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "core/little_endian.h"

namespace quillon::recover {
namespace {

void PutU32(std::uint8_t* at, std::uint32_t value) { PutLittleEndian<4>(at, value); }
void PutU64(std::uint8_t* at, std::uint64_t value) { PutLittleEndian<8>(at, value); }

std::uint32_t Crc(std::uint32_t crc, const std::uint8_t* bytes, std::size_t n) {
  return static_cast<std::uint32_t>(crc32(crc, bytes, static_cast<uInt>(n)));
}

}  // namespace

TPageMapWriter::TPageMapWriter(std::unique_ptr<TStream> file, std::string shownPath)
    : file_(std::move(file)), shownPath_(std::move(shownPath)) {
  offsets_.reserve(std::size_t{8} * kOffsetsPerRecord);
}

void TPageMapWriter::Write(const void* bytes, std::size_t n) {
  if (file_->Write(bytes, n) != n) {
    throw EQuillonError("Cannot write the page map \"" + shownPath_ +
                        "\": the write failed (is the disk full?).");
  }
  fileCrc_ = Crc(fileCrc_, static_cast<const std::uint8_t*>(bytes), n);
  bytes_ += n;
}

void TPageMapWriter::ContinueFrom(TStream& earlier, const TPageMapRestartPoint& point,
                                  const std::string& shownEarlier) {
  // Checked before a byte of it is written: the copy is only ever of what the point names.
  const auto refuse = [&] {
    throw EQuillonError("Cannot continue the page map from \"" + shownEarlier +
                        "\": it does not hold the " + std::to_string(point.Bytes) +
                        " bytes its restart point names (it was cut short or changed).");
  };
  if (point.Bytes < kPageMapHeaderSize) refuse();
  std::vector<std::uint8_t> piece(1024 * 1024);
  std::uint32_t crc = 0;
  earlier.Seek(0, TSeekOrigin::Begin);
  for (std::uint64_t left = point.Bytes; left > 0;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
    if (earlier.Read(piece.data(), want) != want) refuse();
    crc = Crc(crc, piece.data(), want);
    left -= want;
  }
  if (crc != point.FileCrc32) refuse();
  earlier.Seek(0, TSeekOrigin::Begin);
  for (std::uint64_t left = point.Bytes; left > 0;) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
    if (earlier.Read(piece.data(), want) != want) refuse();
    Write(piece.data(), want);
    left -= want;
  }
  // Read twice, checked both times: a file changed between the two reads is not trusted.
  if (fileCrc_ != point.FileCrc32) refuse();
  fragments_ = point.Fragments;
  keptPages_ = point.KeptPages;
  fragmentsCrc_ = point.FragmentsCrc32;
}

TPageMapRestartPoint TPageMapWriter::TakeRestartPoint(std::int64_t sourceOffset) {
  FlushOffsets();
  if (!file_->Flush()) {
    throw EQuillonError("Cannot write the page map \"" + shownPath_ +
                        "\": it could not be brought to the disk.");
  }
  return {.SourceOffset = sourceOffset,
          .Bytes = bytes_,
          .FileCrc32 = fileCrc_,
          .Fragments = fragments_,
          .KeptPages = keptPages_,
          .FragmentsCrc32 = fragmentsCrc_};
}

void TPageMapWriter::WriteHeader() {
  std::uint8_t header[kPageMapHeaderSize] = {};
  std::memcpy(header, kPageMapMagic.data(), kPageMapMagic.size());
  PutU32(header + 8, kPageMapVersion);
  PutU32(header + 12, 4096);
  PutU32(header + 28, Crc(0, header, 28));
  Write(header, sizeof header);
}

void TPageMapWriter::WriteRecord(TPageMapRecord type, std::uint8_t kind, std::uint32_t count,
                                 std::span<const std::uint8_t> payload) {
  std::uint8_t head[kRecordHeadSize] = {static_cast<std::uint8_t>(type), kind, 0, 0};
  PutU32(head + 4, count);
  std::uint32_t crc = Crc(0, head, sizeof head);
  crc = Crc(crc, payload.data(), payload.size());
  std::uint8_t tail[kRecordCrcSize];
  PutU32(tail, crc);
  Write(head, sizeof head);
  Write(payload.data(), payload.size());
  Write(tail, sizeof tail);
}

void TPageMapWriter::FlushOffsets() {
  if (pendingOffsets_ == 0) return;
  WriteRecord(TPageMapRecord::FragmentOffsets, 0, pendingOffsets_, offsets_);
  offsets_.clear();
  pendingOffsets_ = 0;
}

void TPageMapWriter::AddFragment(std::int64_t sourceOffset,
                                 std::span<const std::uint8_t, 4096> fragment) {
  std::uint8_t bytes[8];
  PutU64(bytes, static_cast<std::uint64_t>(sourceOffset));
  offsets_.insert(offsets_.end(), bytes, bytes + 8);
  ++pendingOffsets_;
  ++fragments_;
  fragmentsCrc_ = Crc(fragmentsCrc_, fragment.data(), fragment.size());
  if (pendingOffsets_ == kOffsetsPerRecord) FlushOffsets();
}

void TPageMapWriter::OfferPage(std::int64_t sourceOffset,
                               std::span<const std::uint8_t, 4096> page) {
  const std::optional<TKeptPageKind> kind = ClassifyKeptPage(page);
  if (!kind) return;
  // Records stay in source order: the offsets of the fragments before this page go first.
  FlushOffsets();
  std::uint8_t payload[8 + 4096];
  PutU64(payload, static_cast<std::uint64_t>(sourceOffset));
  std::memcpy(payload + 8, page.data(), page.size());
  WriteRecord(TPageMapRecord::KeptPage, static_cast<std::uint8_t>(*kind), 1, payload);
  ++keptPages_;
}

void TPageMapWriter::Finish(std::int64_t endPosition, TPageMapScanEnd end) {
  FlushOffsets();
  std::uint8_t payload[kClosingPayloadSize];
  PutU64(payload, fragments_);
  PutU64(payload + 8, keptPages_);
  PutU64(payload + 16, static_cast<std::uint64_t>(endPosition));
  PutU32(payload + 24, static_cast<std::uint32_t>(end));
  PutU32(payload + 28, fragmentsCrc_);
  WriteRecord(TPageMapRecord::Closing, 0, 0, payload);
  if (!file_->Flush()) {
    throw EQuillonError("Cannot write the page map \"" + shownPath_ +
                        "\": it could not be brought to the disk.");
  }
  file_.reset();
}

}  // namespace quillon::recover
