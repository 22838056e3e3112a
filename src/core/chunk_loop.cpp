#include "core/chunk_loop.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <span>

#include "core/aligned_buffer.h"
#include "core/kept_page_test.h"
#include "core/page_head.h"
#include "core/page_test.h"

namespace quillon {
namespace {

// Room after the chunk for the tail of the last step record: the record of a step near
// the end of the delivered bytes reads up to 525 bytes on, and those bytes are zero.
constexpr std::size_t kChunkBufferSize = kChunkSize + kPageHeadSize;

// The first two bytes reject nearly every step.
bool StartsLikePage(const std::uint8_t* stepStart) {
  return stepStart[kPageTypeAt] == kDataPageType && stepStart[kPageTypeAt + 1] == 0x01;
}

bool IsCandidateAt(const std::uint8_t* stepStart) {
  // Only the steps that pass the first bytes are copied into a step record for the full test.
  if (!StartsLikePage(stepStart)) return false;
  PageHead record;
  std::memcpy(&record, stepStart, sizeof record);
  return IsCandidatePage(record);
}

}  // namespace

TChunkLoopResult RunChunkLoop(IScanHost& host, TStream& source, std::int64_t sourceLength,
                              TFragmentFileWriter& writer, IRestartKeeper* keeper) {
  // The reader may hand over its read-ahead's buffer in exchange for this one at every chunk;
  // the writer may hold it while it compresses the fragments that lie in it.
  auto chunk = std::make_shared<TAlignedBuffer>(kChunkBufferSize);
  std::uint8_t fragment[kFragmentSize];
  TSourceReader reader(source, sourceLength);
  TChunkLoopResult result;
  std::int64_t position = keeper != nullptr ? keeper->StartOffset() : 0;
  if (keeper != nullptr) result.Fragments = keeper->StartFragments();
  const bool keepsOtherPages = host.KeepsOtherPages();

  // A failing chunk is read again in pieces and sectors, each failed read taking seconds
  // on a dying disk: between two of them the window gets its messages now and then, and a
  // stop ends the loop at once.
  TScanClock::time_point lastPump = host.Now();
  reader.SetKeepReading([&] {
    if (host.Now() - lastPump >= kPumpInterval) {
      host.ProcessPendingMessages();
      lastPump = host.Now();
    }
    return !host.StopRequested();
  });

  // The run ends at the source's end even when the chosen size reaches beyond it; a source
  // whose length could not be taken is bounded by the chosen size alone.
  auto endOfRun = [&] {
    const std::int64_t size = host.SourceSize();
    return sourceLength >= 0 ? std::min(size, sourceLength) : size;
  };
  for (;;) {
    if (position >= endOfRun()) break;
    if (keeper != nullptr) keeper->AtChunkBoundary(position, reader.Unreadable(), writer, false);
    host.ProcessPendingMessages();
    lastPump = host.Now();
    host.ShowProgress(position);
    if (host.StopRequested()) {
      // Stopped on a chunk boundary: a later run continues right here.
      if (keeper != nullptr) keeper->AtChunkBoundary(position, reader.Unreadable(), writer, true);
      result.Stopped = true;
      break;
    }
    // The end is read again after the messages, which may have changed the source size.
    const std::int64_t endNow = endOfRun();
    if (position >= endNow) break;
    const std::int64_t chunkLength = std::min(kChunkSize, endNow - position);

    // A hole of a sparse image reads as zeros, which hold no candidate: the chunks that lie
    // wholly inside one are passed over. Chunks keep their places on multiples of the chunk
    // size, so the steps are tested exactly as a full read would test them.
    const std::int64_t nextData = reader.NextData(position);
    if (nextData >= position + chunkLength) {
      position = std::min(endNow, std::max(position + chunkLength, nextData / kChunkSize * kChunkSize));
      continue;
    }

    const std::size_t delivered =
        reader.ReadChunk(position, chunk, static_cast<std::size_t>(chunkLength), endNow);
    std::uint8_t* const bytes = chunk->data();
    // The next chunks are read while this one is tested; a page near this chunk's end
    // takes its bytes beyond the chunk from that read.
    if (delivered == static_cast<std::size_t>(chunkLength)) {
      std::int64_t next = position + chunkLength;
      for (std::size_t k = 0; k < kReadAheadDepth && next < endNow; ++k, next += kChunkSize) {
        reader.ReadAhead(next, static_cast<std::size_t>(std::min(kChunkSize, endNow - next)));
      }
    }
    // Step records never see stale bytes of an earlier chunk past what was delivered.
    std::memset(bytes + delivered, 0, kPageHeadSize);

    const std::span<std::uint8_t, kFragmentSize> fragmentBytes(fragment, kFragmentSize);
    for (std::size_t step = 0; step < delivered; step += kStepSize) {
      const std::int64_t at = position + static_cast<std::int64_t>(step);
      // The record of the chunk's last step reaches 14 bytes past the chunk: a page that
      // starts there is judged on its own bytes, read from the source with the fragment
      // (zeros only past the source's end), never on the zeros after the buffer.
      const bool reachesPast = step + kPageHeadSize > delivered;
      bool candidate = false;
      if (!reachesPast) {
        candidate = IsCandidateAt(bytes + step);
      } else if (StartsLikePage(bytes + step)) {
        reader.ReadFragment(at, fragmentBytes, position, bytes, delivered);
        candidate = IsCandidateAt(fragment);
      }
      if (!candidate) {
        if (keepsOtherPages && MayBeginKeptPage(bytes + step)) {
          reader.ReadFragment(at, fragmentBytes, position, bytes, delivered);
          host.OtherPageSeen(at, fragmentBytes);
        }
        continue;
      }
      ++result.Fragments;
      host.ShowFragmentCount(result.Fragments);
      // A fragment wholly inside the chunk goes to the writer from the chunk itself, which it
      // may compress there (on dense data two copies of nearly every byte read saved); one
      // that runs past the chunk takes that part from the source.
      const std::uint8_t* page = bytes + step;
      std::shared_ptr<const void> holder = chunk;
      if (step + kFragmentSize > delivered) {
        if (!reachesPast) reader.ReadFragment(at, fragmentBytes, position, bytes, delivered);
        page = fragment;
        holder = nullptr;
      }
      const std::span<const std::uint8_t, kFragmentSize> pageBytes(page, kFragmentSize);
      writer.AddFragment(pageBytes, holder);
      host.FragmentAdded(result.Fragments - 1, at, pageBytes);
    }
    if (reader.Loss() != TSourceLoss::None) {
      position = reader.LossOffset();
      break;
    }
    if (reader.Stopped()) {
      // Stopped while the chunk (or a fragment's tail beyond it) was read again: the scan
      // ends where the reading of the chunk did.
      position = std::min(reader.StopOffset(), position + chunkLength);
      result.Stopped = true;
      break;
    }
    position += chunkLength;
  }
  result.EndPosition = position;
  result.Unreadable = reader.Unreadable();
  if (keeper != nullptr) {
    for (const TByteRange& range : keeper->StartUnreadable()) {
      result.Unreadable.Add(range.Offset, range.Length);
    }
  }
  result.Loss = reader.Loss();
  result.LengthNow = reader.LengthNow();
  return result;
}

std::int64_t GaugeUnitFor(std::int64_t sourceSize) {
  std::int64_t unit = kProgressUnit;
  while (sourceSize / unit > std::numeric_limits<std::int32_t>::max()) unit *= 2;
  return unit;
}

}  // namespace quillon
