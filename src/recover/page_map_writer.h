#pragma once
// Writes a page map (recover/page_map_format.h) as a scan goes: fragment offsets are
// gathered into records of kOffsetsPerRecord, kept pages written as they come. A restart
// point (see page_map_state.h) lets a later run continue the map where a stopped or cut off
// run left it.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/kept_page_test.h"
#include "core/stream.h"
#include "recover/page_map_format.h"
#include "recover/page_map_state.h"

namespace quillon::recover {

class TPageMapWriter {
 public:
  // file: created for the map, empty; shownPath names it in error texts.
  TPageMapWriter(std::unique_ptr<TStream> file, std::string shownPath);

  // Each throws EQuillonError naming the file and the cause when a write fails.
  void WriteHeader();
  // Instead of WriteHeader, for a run that continues an interrupted one: copies the first
  // point.Bytes bytes of earlier (shown as shownEarlier) and goes on from there. Throws
  // EQuillonError naming earlier when it does not hold them (cut short, or another CRC-32).
  void ContinueFrom(TStream& earlier, const TPageMapRestartPoint& point,
                    const std::string& shownEarlier);
  // Writes the gathered offsets and brings the file to stable storage: every fragment and
  // kept page offered so far (all below sourceOffset) is in the bytes the point names.
  TPageMapRestartPoint TakeRestartPoint(std::int64_t sourceOffset);
  void AddFragment(std::int64_t sourceOffset, std::span<const std::uint8_t, 4096> fragment);
  // Judges a step the scan passed on (ClassifyKeptPage) and keeps it if it is such a page.
  void OfferPage(std::int64_t sourceOffset, std::span<const std::uint8_t, 4096> page);
  // Writes what is gathered and the closing record, and brings the file to stable storage.
  void Finish(std::int64_t endPosition, TPageMapScanEnd end);

  std::uint64_t Fragments() const { return fragments_; }
  std::uint64_t KeptPages() const { return keptPages_; }

 private:
  void FlushOffsets();
  void WriteRecord(TPageMapRecord type, std::uint8_t kind, std::uint32_t count,
                   std::span<const std::uint8_t> payload);
  void Write(const void* bytes, std::size_t n);

  std::unique_ptr<TStream> file_;
  std::string shownPath_;
  std::vector<std::uint8_t> offsets_;  // the pending offsets' bytes
  std::uint32_t pendingOffsets_ = 0;
  std::uint64_t fragments_ = 0;
  std::uint64_t keptPages_ = 0;
  std::uint32_t fragmentsCrc_ = 0;
  std::uint64_t bytes_ = 0;      // written to the file so far
  std::uint32_t fileCrc_ = 0;    // CRC-32 of those bytes
};

}  // namespace quillon::recover
