#include "core/source_reader.h"

#include <algorithm>
#include <cstring>

namespace quillon {
namespace {

// Sector sizes beyond this are not sector sizes; such a source is read without alignment.
constexpr std::int64_t kMaxAlignment = 65536;

std::int64_t AlignmentOf(const TStream& source) {
  const auto alignment = static_cast<std::int64_t>(source.ReadAlignment());
  const bool powerOfTwo = alignment > 0 && (alignment & (alignment - 1)) == 0;
  return powerOfTwo && alignment <= kMaxAlignment ? alignment : 1;
}

}  // namespace

TSourceReader::TSourceReader(TStream& source, std::int64_t sourceLength)
    : source_(source), sourceLength_(sourceLength), alignment_(AlignmentOf(source)) {
  const std::int64_t sector = std::max(kSectorSize, alignment_);
  const std::int64_t piece = std::max(kRecoveryPieceSize, alignment_);
  if (piece != sector) units_.push_back(piece);
  units_.push_back(sector);
}

std::int64_t TSourceReader::AlignDown(std::int64_t value) const {
  return value / alignment_ * alignment_;
}

std::int64_t TSourceReader::AlignUp(std::int64_t value) const {
  return (value + alignment_ - 1) / alignment_ * alignment_;
}

TSourceReader::~TSourceReader() {
  if (!aheadThread_.joinable()) return;
  {
    std::lock_guard lock(aheadLock_);
    aheadQuit_ = true;
  }
  aheadChanged_.notify_all();
  aheadThread_.join();
}

std::int64_t TSourceReader::NextData(std::int64_t from) {
  // While the read-ahead reads, the answer is "cannot tell": waiting for that read would
  // hold up the chunk's test, and a chunk of a hole read meanwhile is read quickly.
  std::unique_lock lock(streamLock_, std::try_to_lock);
  if (!lock.owns_lock()) {
    // The read-ahead asks for the chunk it reads before reading it; the chunk being read
    // has its answer at once, so the holes are passed over as without read-ahead.
    std::unique_lock ahead(aheadLock_);
    for (const TAhead& asked : ahead_) {
      if (asked.Offset != from) continue;
      if (asked.Reading && !asked.Done) {
        aheadChanged_.wait(ahead, [&] { return asked.NextData >= 0 || asked.Done; });
      }
      return asked.NextData >= 0 ? asked.NextData : from;
    }
    return from;
  }
  return AskNextData(from);
}

std::int64_t TSourceReader::AskNextData(std::int64_t from) {
  if (from >= dataFrom_ && from < dataEnd_) return from;
  const std::int64_t next = std::max(from, source_.NextDataOffset(from));
  if (!holesUnknown_ && (sourceLength_ < 0 || next < sourceLength_)) {
    const std::int64_t hole = source_.NextHoleOffset(next);
    if (hole < 0) holesUnknown_ = true;
    if (hole > next) {
      dataFrom_ = next;
      dataEnd_ = hole;
    }
  }
  return next;
}

TSourceReader::TRawRead TSourceReader::LockedRead(std::int64_t offset, std::uint8_t* buffer,
                                                  std::size_t n) {
  std::lock_guard lock(streamLock_);
  TRawRead read;
  if (source_.Seek(offset, TSeekOrigin::Begin) != offset) {
    read.Failure = source_.LastReadFailure();
    return read;
  }
  read.Got = source_.Read(buffer, n);
  read.Failure = read.Got == n ? TReadFailure::None : source_.LastReadFailure();
  return read;
}

std::size_t TSourceReader::RawRead(std::int64_t offset, std::uint8_t* buffer, std::size_t n) {
  const TRawRead read = LockedRead(offset, buffer, n);
  lastFailure_ = read.Failure;
  return read.Got;
}

std::int64_t TSourceReader::ReadLengthOf(std::int64_t offset, std::size_t n) const {
  // Chunk offsets are multiples of every sector size; only the length may need widening.
  std::int64_t length = AlignUp(static_cast<std::int64_t>(n));
  if (sourceLength_ >= 0) length = std::min(length, std::max<std::int64_t>(sourceLength_ - offset, 0));
  return length;
}

void TSourceReader::ReadAhead(std::int64_t offset, std::size_t n) {
  if (loss_ != TSourceLoss::None || stopped_ || n == 0) return;
  const std::int64_t length = ReadLengthOf(offset, n);
  // A chunk with a known bad place is read in pieces at once, on the scan's thread.
  if (length <= 0 || unreadable_.Overlaps(offset, length)) return;
  if (!aheadThread_.joinable()) aheadThread_ = std::thread([this] { ReadAheadLoop(); });
  std::unique_lock lock(aheadLock_);
  if (ahead_.size() >= kReadAheadDepth) return;
  for (const TAhead& asked : ahead_) {
    if (asked.Offset == offset) return;
  }
  TAhead chunk;
  chunk.Offset = offset;
  chunk.N = n;
  chunk.Length = length;
  chunk.Buffer = FreeBuffer(std::max(static_cast<std::size_t>(length), chunkBufferSize_));
  ahead_.push_back(std::move(chunk));
  lock.unlock();
  aheadChanged_.notify_all();
}

void TSourceReader::ReadAheadLoop() {
  std::unique_lock lock(aheadLock_);
  for (;;) {
    TAhead* next = nullptr;
    aheadChanged_.wait(lock, [&] {
      for (TAhead& asked : ahead_) {
        if (!asked.Reading) {
          next = &asked;
          break;
        }
      }
      return aheadQuit_ || next != nullptr;
    });
    if (aheadQuit_) return;
    // The entry stays where it is: the scan thread drops only chunks that are done.
    next->Reading = true;
    const std::int64_t offset = next->Offset;
    const auto length = static_cast<std::size_t>(next->Length);
    std::uint8_t* buffer = next->Buffer->data();
    lock.unlock();
    std::int64_t nextData = offset;
    {
      std::lock_guard stream(streamLock_);
      nextData = AskNextData(offset);
    }
    lock.lock();
    next->NextData = nextData;
    aheadChanged_.notify_all();
    lock.unlock();
    const TRawRead read = LockedRead(offset, buffer, length);
    lock.lock();
    next->Read = read;
    next->Done = true;
    aheadChanged_.notify_all();
  }
}

TSourceReader::TSharedBuffer TSourceReader::FreeBuffer(std::size_t size) {
  // Holders release their buffers on the scan's thread, which is the one asking here: a
  // buffer found free stays free.
  for (auto it = spareBuffers_.begin(); it != spareBuffers_.end(); ++it) {
    if (it->use_count() == 1 && (*it)->size() >= size) {
      TSharedBuffer free = std::move(*it);
      spareBuffers_.erase(it);
      return free;
    }
  }
  return std::make_shared<TAlignedBuffer>(size);
}

void TSourceReader::WaitFor(std::unique_lock<std::mutex>& lock, const TAhead& ahead) {
  aheadChanged_.wait(lock, [&] { return ahead.Done; });
}

void TSourceReader::DropOldest(std::unique_lock<std::mutex>& lock) {
  WaitFor(lock, ahead_.front());
  spareBuffers_.push_back(std::move(ahead_.front().Buffer));
  ahead_.pop_front();
}

TSourceReader::TAheadPart TSourceReader::FromReadAhead(std::int64_t offset, std::uint8_t* buffer,
                                                       std::size_t n) {
  const auto length = static_cast<std::int64_t>(n);
  if (unreadable_.Overlaps(offset, length)) return TAheadPart::NotThere;
  std::unique_lock lock(aheadLock_);
  for (const TAhead& asked : ahead_) {
    if (offset < asked.Offset || offset + length > asked.Offset + asked.Length) continue;
    WaitFor(lock, asked);
    const std::int64_t from = offset - asked.Offset;
    if (static_cast<std::int64_t>(asked.Read.Got) >= from + length) {
      std::memcpy(buffer, asked.Buffer->data() + from, n);
      return TAheadPart::Copied;
    }
    return asked.Read.Failure == TReadFailure::Unreadable ? TAheadPart::Unreadable
                                                          : TAheadPart::NotThere;
  }
  return TAheadPart::NotThere;
}

bool TSourceReader::TakeReadAhead(std::int64_t offset, std::size_t n, std::size_t length,
                                  TSharedBuffer& buffer, TRawRead& read) {
  std::unique_lock lock(aheadLock_);
  while (!ahead_.empty() && ahead_.front().Offset < offset) DropOldest(lock);
  if (ahead_.empty() || ahead_.front().Offset != offset) return false;
  TAhead& chunk = ahead_.front();
  WaitFor(lock, chunk);
  const bool same = chunk.N == n;
  if (same) {
    read = chunk.Read;
    // The caller's buffer goes to the spares in the read-ahead's place (DropOldest).
    if (chunk.Buffer->size() >= buffer->size()) {
      std::swap(chunk.Buffer, buffer);
    } else {
      std::memcpy(buffer->data(), chunk.Buffer->data(), std::min(read.Got, length));
    }
  }
  DropOldest(lock);
  return same;
}

bool TSourceReader::KeepReading(std::int64_t offset) {
  if (stopped_) return false;
  if (!keepReading_ || keepReading_()) return true;
  stopped_ = true;
  stopOffset_ = offset;
  return false;
}

bool TSourceReader::LostAt(std::int64_t position) {
  switch (LastFailure()) {
    case TReadFailure::Unreadable: return false;
    case TReadFailure::DeviceGone:
      loss_ = TSourceLoss::Gone;
      lossOffset_ = position;
      return true;
    case TReadFailure::None: break;
  }
  // A short read where the source still holds bytes is a failure like any other: the
  // place is read again in pieces.
  std::int64_t length = 0;
  {
    std::lock_guard lock(streamLock_);
    length = source_.Length();
  }
  if (length > position) return false;
  // The end came early. Reads never reach past the length the source had when the scan
  // began, so the source has become shorter (or a device ends before its reported size).
  loss_ = TSourceLoss::Shrunk;
  lossOffset_ = position;
  lengthNow_ = length;
  return true;
}

bool TSourceReader::ReadLevel(std::int64_t offset, std::uint8_t* buffer, std::size_t n,
                              std::size_t level) {
  const std::int64_t unit = units_[level];
  const std::int64_t end = offset + static_cast<std::int64_t>(n);
  for (std::int64_t part = offset; part < end;) {
    // Parts lie on absolute boundaries of the unit, so a sector is always a whole sector.
    const std::int64_t partEnd = std::min(end, (part / unit + 1) * unit);
    const auto length = static_cast<std::size_t>(partEnd - part);
    std::uint8_t* at = buffer + (part - offset);
    if (unreadable_.Covers(part, static_cast<std::int64_t>(length))) {
      std::memset(at, 0, length);
      part = partEnd;
      continue;
    }
    if (!unreadable_.Overlaps(part, static_cast<std::int64_t>(length))) {
      if (!KeepReading(part)) return false;
      std::size_t got = RawRead(part, at, length);
      if (got != length && LostAt(part + static_cast<std::int64_t>(got))) return false;
      // A sector that delivers nothing without an error, before the end, is asked once
      // more before it counts as unreadable: such a read may be a passing hiccup.
      const bool lastLevel = level + 1 == units_.size();
      if (got != length && lastLevel && LastFailure() == TReadFailure::None) {
        if (!KeepReading(part)) return false;
        got = RawRead(part, at, length);
        if (got != length && LostAt(part + static_cast<std::int64_t>(got))) return false;
      }
      if (got == length) {
        readSomething_ = true;
        part = partEnd;
        continue;
      }
    }
    if (level + 1 < units_.size()) {
      if (!ReadLevel(part, at, length, level + 1)) return false;
    } else {
      std::memset(at, 0, length);
      unreadable_.Add(part, static_cast<std::int64_t>(length));
    }
    part = partEnd;
  }
  return true;
}

bool TSourceReader::ReadRecovering(std::int64_t offset, std::uint8_t* buffer, std::size_t n) {
  if (!unreadable_.Overlaps(offset, static_cast<std::int64_t>(n))) {
    const std::size_t got = RawRead(offset, buffer, n);
    if (got == n) {
      readSomething_ = readSomething_ || n > 0;
      return true;
    }
    if (LostAt(offset + static_cast<std::int64_t>(got))) return false;
  }
  return ReadLevel(offset, buffer, n, 0);
}

bool TSourceReader::AnyProbeReadable(std::int64_t chunkEnd, std::int64_t runEnd) {
  const std::int64_t sector = units_.back();
  const std::int64_t last = std::max<std::int64_t>(0, runEnd - 1) / sector * sector;
  const std::int64_t middle = (chunkEnd + std::max(chunkEnd, runEnd)) / 2 / sector * sector;
  std::uint8_t probe[kMaxAlignment];
  for (const std::int64_t at : {std::int64_t{0}, last, middle}) {
    const std::int64_t length = std::min(sector, std::max<std::int64_t>(runEnd - at, 0));
    if (length <= 0 || unreadable_.Covers(at, length)) continue;
    // Stopped after the chunk was read through: the scan ends after it, not lost.
    if (!KeepReading(chunkEnd)) return true;
    const std::size_t want = static_cast<std::size_t>(
        alignment_ > 1 ? sector : length);  // a raw device reads whole sectors only
    if (RawRead(at, probe, want) > 0) return true;
    if (LastFailure() == TReadFailure::DeviceGone) return false;
  }
  return false;
}

std::size_t TSourceReader::ReadChunk(std::int64_t offset, TSharedBuffer& chunk, std::size_t n,
                                     std::int64_t runEnd) {
  if (chunk.use_count() > 1) {
    std::lock_guard lock(aheadLock_);
    spareBuffers_.push_back(chunk);
    chunk = FreeBuffer(chunk->size());
  }
  if (loss_ != TSourceLoss::None || stopped_ || n == 0) return 0;
  chunkBufferSize_ = chunk->size();
  readSomething_ = false;
  const std::int64_t length = ReadLengthOf(offset, n);
  const auto wanted = static_cast<std::size_t>(length);
  TRawRead ahead;
  bool read = false;
  if (TakeReadAhead(offset, n, wanted, chunk, ahead) &&
      !unreadable_.Overlaps(offset, length)) {  // nothing found bad since it was asked for
    // The plain first read was made in the background: its bytes, or its failure, stand
    // for ReadRecovering's own first read.
    lastFailure_ = ahead.Failure;
    if (ahead.Got == wanted) {
      readSomething_ = wanted > 0;
      read = true;
    } else if (!LostAt(offset + static_cast<std::int64_t>(ahead.Got))) {
      read = ReadLevel(offset, chunk->data(), wanted, 0);
    }
  } else {
    read = ReadRecovering(offset, chunk->data(), static_cast<std::size_t>(length));
  }
  if (!read) {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(InterruptedAt() - offset, 0,
                                                             static_cast<std::int64_t>(n)));
  }
  const std::int64_t chunkEnd = offset + static_cast<std::int64_t>(n);
  if (!readSomething_ && !AnyProbeReadable(chunkEnd, runEnd)) {
    // The chunk's bytes are zeros and recorded; the source ends after it.
    loss_ = TSourceLoss::Gone;
    lossOffset_ = chunkEnd;
  }
  return std::min<std::size_t>(n, static_cast<std::size_t>(length));
}

void TSourceReader::ReadFragment(std::int64_t offset,
                                 std::span<std::uint8_t, kFragmentSize> fragment,
                                 std::int64_t chunkOffset, const std::uint8_t* chunk,
                                 std::size_t chunkBytes) {
  const auto size = static_cast<std::int64_t>(kFragmentSize);
  const std::int64_t inChunk = offset - chunkOffset;
  const std::int64_t chunkHas = std::clamp<std::int64_t>(
      static_cast<std::int64_t>(chunkBytes) - inChunk, 0, size);
  std::memcpy(fragment.data(), chunk + inChunk, static_cast<std::size_t>(chunkHas));
  std::memset(fragment.data() + chunkHas, 0, static_cast<std::size_t>(size - chunkHas));
  if (chunkHas == size || loss_ != TSourceLoss::None || stopped_) return;

  // The rest comes from the source: up to its end, widened to whole sectors where the
  // source reads only those.
  const std::int64_t from = offset + chunkHas;
  std::int64_t to = offset + size;
  if (sourceLength_ >= 0) to = std::min(to, sourceLength_);
  if (to <= from) return;
  const std::int64_t readFrom = AlignDown(from);
  std::int64_t readTo = AlignUp(to);
  if (sourceLength_ >= 0) readTo = std::min(readTo, sourceLength_);
  if (!bounce_) bounce_ = std::make_unique<TAlignedBuffer>(kFragmentSize + 2 * kMaxAlignment);
  const auto readLength = static_cast<std::size_t>(readTo - readFrom);
  std::int64_t delivered = readTo;
  bool read = true;
  switch (FromReadAhead(readFrom, bounce_->data(), readLength)) {
    case TAheadPart::Copied: break;
    // The read-ahead stands for the plain read, which failed: on to pieces and sectors.
    case TAheadPart::Unreadable: read = ReadLevel(readFrom, bounce_->data(), readLength, 0); break;
    case TAheadPart::NotThere: read = ReadRecovering(readFrom, bounce_->data(), readLength); break;
  }
  if (!read) delivered = InterruptedAt();
  const std::int64_t usable = std::min(to, delivered) - from;
  if (usable > 0) {
    std::memcpy(fragment.data() + chunkHas, bounce_->data() + (from - readFrom),
                static_cast<std::size_t>(usable));
  }
}

}  // namespace quillon
