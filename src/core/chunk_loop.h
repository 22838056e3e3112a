#pragma once
// The scan's chunk loop: reads the source in 256 KiB chunks, tests every 512-byte step
// and adds the 4096 bytes at each candidate page to the fragment file.

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "core/byte_ranges.h"
#include "core/fragment_file_format.h"
#include "core/fragment_file_writer.h"
#include "core/source_reader.h"
#include "core/stream.h"

namespace quillon {

inline constexpr std::int64_t kChunkSize = 262144;
inline constexpr std::int64_t kStepSize = 512;
inline constexpr std::int64_t kProgressUnit = 1024;  // the gauge counts KiB

using TScanClock = std::chrono::steady_clock;
// While a failing chunk is read again, sector by sector, the window's messages are
// processed at least this often (between two reads: a single read may take longer).
inline constexpr TScanClock::duration kPumpInterval = std::chrono::milliseconds(250);

// What the loop needs from the window around it. Called on the loop's own thread.
class IScanHost {
 public:
  virtual ~IScanHost() = default;
  // Once per chunk, before anything else: commands given meanwhile run inside this call.
  // Also every kPumpInterval or so while a failing chunk is read again.
  virtual void ProcessPendingMessages() = 0;
  // Once per chunk: the source offset of the chunk about to be read.
  virtual void ShowProgress(std::int64_t position) = 0;
  // Once per chunk, after the progress: a yes ends the loop before the next read. Also
  // before every read of a failing chunk again: a yes ends the loop there.
  virtual bool StopRequested() = 0;
  // Read anew at every chunk: a source chosen during the scan moves the end.
  virtual std::int64_t SourceSize() = 0;
  // After every candidate page, with the number found so far in this run.
  virtual void ShowFragmentCount(std::int64_t count) = 0;
  // After a fragment went to the file: its number in the file (from 0), the source offset
  // it was copied from, and its bytes.
  virtual void FragmentAdded(std::int64_t /*number*/, std::int64_t /*offset*/,
                             std::span<const std::uint8_t, kFragmentSize> /*fragment*/) {}
  // The time that paces the messages while a failing chunk is read again.
  virtual TScanClock::time_point Now() { return TScanClock::now(); }

  // Recovery also keeps pages that are no fragments (table definitions, header and usage-map
  // pages). Asked once per run: yes to be shown the steps that may begin one.
  virtual bool KeepsOtherPages() { return false; }
  // After a step that is no candidate but may begin a kept page (MayBeginKeptPage): its
  // source offset and the 4096 bytes there, zeros past the source's end. Not written to
  // the fragment file; the host judges the page (ClassifyKeptPage) and keeps it or not.
  virtual void OtherPageSeen(std::int64_t /*offset*/,
                             std::span<const std::uint8_t, kFragmentSize> /*page*/) {}
};

// Keeps a scan resumable: where a continued run starts, and a restart point now and then.
// Called on the loop's own thread.
class IRestartKeeper {
 public:
  virtual ~IRestartKeeper() = default;
  // Where the loop starts (0, or a chunk boundary an earlier run reached), and the
  // fragments and unreadable ranges that the earlier run found below there.
  virtual std::int64_t StartOffset() const = 0;
  virtual std::int64_t StartFragments() const = 0;
  virtual std::vector<TByteRange> StartUnreadable() const = 0;
  // At every chunk boundary the loop reaches before the end, before that chunk is read:
  // every fragment from below position is in writer. unreadable is what this run could not
  // read so far (the read-ahead may have put ranges at or past position among them). last:
  // the loop ends here (a stop), so a restart point is due whatever the time.
  virtual void AtChunkBoundary(std::int64_t position, const TByteRanges& unreadable,
                               TFragmentFileWriter& writer, bool last) = 0;
};

struct TChunkLoopResult {
  std::int64_t EndPosition = 0;  // the offset the loop reached
  std::int64_t Fragments = 0;
  bool Stopped = false;  // ended by a stop request rather than by reaching the end; a stop
                         // while a failing chunk was read again ends inside that chunk
  TByteRanges Unreadable;  // what could not be read; zeros in the scan's view
  TSourceLoss Loss = TSourceLoss::None;  // the source was lost at EndPosition
  std::int64_t LengthNow = -1;           // after a TSourceLoss::Shrunk: the new length
};

// Runs the loop from offset 0, or from where keeper says, then telling it every chunk
// boundary; the result counts what the earlier run found as well. sourceLength is the length of the opened source, or -1
// where the system cannot tell it (a raw device): the loop ends there even when
// SourceSize() reaches beyond it. Throws what the writer throws.
TChunkLoopResult RunChunkLoop(IScanHost& host, TStream& source, std::int64_t sourceLength,
                              TFragmentFileWriter& writer, IRestartKeeper* keeper = nullptr);

// The gauge's unit for a source of the given size: KiB, or a coarser power of two for
// sources whose size in KiB would not fit a signed 32-bit gauge (2 TiB and more).
std::int64_t GaugeUnitFor(std::int64_t sourceSize);

}  // namespace quillon
