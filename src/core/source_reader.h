#pragma once
// Reads the source for the scan so that a failing disk loses nothing it can still deliver.
//
// A read that fails, or falls short before the end of the source, is made again in
// 4096-byte pieces, and a piece that fails again in 512-byte sectors (on a disk whose
// sectors are larger, in whole sectors); every sector that can be read is kept, every one
// that cannot is zeros and is recorded, each byte once. Places already known to be
// unreadable are not read again: on a failing disk each failed read may take seconds.
//
// The source counts as lost, and the scan ends, when
//  - the system says the device is gone (a disk pulled out, a file system unmounted), or
//  - not one sector of a whole chunk could be read and not one of three probe sectors
//    (the source's first, its last, and one halfway between the chunk and the end) can
//    be read either: a dead region of a disk is scanned through, a dead disk is not; or
//  - the source ends before the offset it had when the scan began (it has shrunk).
//
// Reading a failing place again may take minutes (each failed read of a dying disk takes
// seconds), so between any two of those reads the reader asks whether to go on: the scan
// can be stopped there, and the window keeps answering meanwhile.
//
// Read-ahead: ReadAhead asks for the next chunk on the reader's own thread while the scan
// tests the current one, so that the disk never waits. It makes only the one plain read
// that ReadChunk would make first; ReadChunk takes its bytes, or, where it fell short, goes
// on exactly as after its own first read (pieces, sectors, probes) on the calling thread.
// A fragment's bytes beyond the current chunk come from that read too: where it failed
// there, they are read at once in pieces and sectors, so a bad place costs the same reads
// as without read-ahead. The stream is used by one thread at a time.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "core/aligned_buffer.h"
#include "core/byte_ranges.h"
#include "core/fragment_file_format.h"
#include "core/stream.h"

namespace quillon {

inline constexpr std::int64_t kRecoveryPieceSize = 4096;
inline constexpr std::int64_t kSectorSize = 512;
// Chunks read ahead at most: a few keep the disk busy through the moments when the scan's
// threads wait for a core (1 MiB of buffers).
inline constexpr std::size_t kReadAheadDepth = 4;

enum class TSourceLoss {
  None,
  Gone,    // the device is gone, or nothing of it can be read any more
  Shrunk,  // the source ended before the length it had when the scan began
};

class TSourceReader {
 public:
  // sourceLength: the source's length when the scan began, or -1 where the system does not
  // tell it (a raw Windows device); no read reaches past a known length.
  TSourceReader(TStream& source, std::int64_t sourceLength);
  // Waits for a read-ahead still under way.
  ~TSourceReader();
  TSourceReader(const TSourceReader&) = delete;
  TSourceReader& operator=(const TSourceReader&) = delete;

  // Starts reading the chunk of n bytes at offset (a chunk boundary) in the background, for
  // a ReadChunk that asks for the same chunk later; up to kReadAheadDepth chunks are read
  // ahead, in the order asked. Does nothing when that chunk is already asked for, when as
  // many are, once the source is lost or the reading stopped, or where a part of the chunk
  // is known to be unreadable.
  void ReadAhead(std::int64_t offset, std::size_t n);

  // Asked before every read that a failure made necessary (the re-reading of a chunk in
  // pieces and sectors, the probes, a fragment's failing tail); false stops the reading at
  // that point for good: Stopped() says so, StopOffset() where. Healthy reads never ask.
  void SetKeepReading(std::function<bool()> keepReading) { keepReading_ = std::move(keepReading); }

  // Reads n bytes at offset, which lies on a chunk boundary, into buffer. buffer must have
  // room for n rounded up to the source's read alignment. Returns the bytes delivered: n,
  // or fewer when the source was lost at that point (Loss() says how) or the reading was
  // stopped there (Stopped()). runEnd is where the scan ends; it places the probes after a
  // chunk that could not be read at all. Where the read-ahead holds the chunk, its buffer
  // is handed over in exchange for buffer's (no copy of the chunk): buffer may then be
  // another one of the same size, and what it holds past the bytes delivered is undefined.
  // A buffer that someone else still holds (the fragment writer, until it has compressed
  // what lies in it) is never written: it is exchanged for a free one first.
  using TSharedBuffer = std::shared_ptr<TAlignedBuffer>;
  std::size_t ReadChunk(std::int64_t offset, TSharedBuffer& buffer, std::size_t n,
                        std::int64_t runEnd);

  // The 4096 bytes at offset: from the chunk in memory where they lie wholly inside what
  // it delivered, otherwise from the source. What lies past the source's end, what cannot
  // be read and, once the source is lost or the reading stopped, what the chunk does not
  // hold, is zeros.
  void ReadFragment(std::int64_t offset, std::span<std::uint8_t, kFragmentSize> fragment,
                    std::int64_t chunkOffset, const std::uint8_t* chunk, std::size_t chunkBytes);

  // The first offset at or after from that may hold anything but zeros (holes of a sparse
  // file are skipped); from itself when the system cannot tell, or while the read-ahead
  // is reading.
  std::int64_t NextData(std::int64_t from);

  const TByteRanges& Unreadable() const { return unreadable_; }
  TSourceLoss Loss() const { return loss_; }
  std::int64_t LossOffset() const { return lossOffset_; }  // where the source was lost
  std::int64_t LengthNow() const { return lengthNow_; }    // after a Shrunk: the new length
  bool Stopped() const { return stopped_; }
  std::int64_t StopOffset() const { return stopOffset_; }  // everything before it was read

 private:
  struct TRawRead {
    std::size_t Got = 0;
    TReadFailure Failure = TReadFailure::None;  // why it fell short
  };
  // The first offset at or after from that may hold data; called with streamLock_ held.
  // Inside a stretch known to be data the system is not asked again: on a source served
  // over FUSE or a network each question costs a round trip while the disk waits.
  std::int64_t AskNextData(std::int64_t from);
  // One plain read; the stream's lock is held for it alone. Safe from either thread.
  TRawRead LockedRead(std::int64_t offset, std::uint8_t* buffer, std::size_t n);
  // One plain read on the scan's thread; LastFailure() then says why it fell short.
  std::size_t RawRead(std::int64_t offset, std::uint8_t* buffer, std::size_t n);
  TReadFailure LastFailure() const { return lastFailure_; }
  // The length of the chunk of n bytes at offset as it is read: widened to whole sectors,
  // never past the source's known end.
  std::int64_t ReadLengthOf(std::int64_t offset, std::size_t n) const;
  // Drops the read-ahead's chunks before offset; when the next one is exactly this chunk,
  // waits for its read, exchanges its buffer for buffer (copies what it delivered, up to
  // length bytes, where its buffer is the smaller) and returns true with the read's outcome.
  bool TakeReadAhead(std::int64_t offset, std::size_t n, std::size_t length,
                     TSharedBuffer& buffer, TRawRead& read);
  // A spare buffer of at least size bytes that nobody else holds, or a new one; called with
  // aheadLock_ held.
  TSharedBuffer FreeBuffer(std::size_t size);
  enum class TAheadPart {
    Copied,      // the bytes came from the read-ahead
    Unreadable,  // the read-ahead failed inside them with a read error
    NotThere,    // no read-ahead holds them, or a bad place is known there since
  };
  // For n bytes at offset that a fragment needs: waits for the read-ahead when it holds
  // them, and copies them to buffer where it read them.
  TAheadPart FromReadAhead(std::int64_t offset, std::uint8_t* buffer, std::size_t n);
  void ReadAheadLoop();
  // Reads [offset, offset + n) (aligned, or at the source's end) with recovery. Returns
  // false when the source was lost or the reading stopped inside it; InterruptedAt() then
  // says how far it got.
  bool ReadRecovering(std::int64_t offset, std::uint8_t* buffer, std::size_t n);
  bool ReadLevel(std::int64_t offset, std::uint8_t* buffer, std::size_t n, std::size_t level);
  // After a read fell short at position: true when the source is lost there.
  bool LostAt(std::int64_t position);
  bool AnyProbeReadable(std::int64_t chunkEnd, std::int64_t runEnd);
  // Before a read that a failure made necessary: false when the reading stops at offset.
  bool KeepReading(std::int64_t offset);
  std::int64_t InterruptedAt() const {
    return loss_ != TSourceLoss::None ? lossOffset_ : stopOffset_;
  }
  std::int64_t AlignDown(std::int64_t value) const;
  std::int64_t AlignUp(std::int64_t value) const;

  TStream& source_;
  std::mutex streamLock_;  // the stream's position and last failure belong to one read
  // [dataFrom_, dataEnd_): data without a hole, as the system said; guarded by streamLock_,
  // as is holesUnknown_ (the system cannot tell where holes begin: not asked again).
  std::int64_t dataFrom_ = 0;
  std::int64_t dataEnd_ = 0;
  bool holesUnknown_ = false;
  TReadFailure lastFailure_ = TReadFailure::None;  // of the scan thread's last RawRead
  std::int64_t sourceLength_;
  std::int64_t alignment_;
  std::vector<std::int64_t> units_;  // recovery units: pieces, then sectors
  TByteRanges unreadable_;
  TSourceLoss loss_ = TSourceLoss::None;
  std::int64_t lossOffset_ = 0;
  std::int64_t lengthNow_ = -1;
  bool readSomething_ = false;  // since the current chunk began
  std::function<bool()> keepReading_;
  bool stopped_ = false;
  std::int64_t stopOffset_ = 0;
  std::unique_ptr<TAlignedBuffer> bounce_;  // for reads that must be widened to sectors

  // The read-ahead: chunks asked for by the scan thread, read in order by aheadThread_.
  struct TAhead {
    std::int64_t Offset = 0;
    std::size_t N = 0;
    std::int64_t Length = 0;  // what is read: ReadLengthOf(Offset, N)
    bool Reading = false;     // taken by aheadThread_
    // The first offset at or after Offset that may hold data, asked by aheadThread_ just
    // before its read (-1 until then): the scan's hole check answers from it while the
    // stream is busy with the read.
    std::int64_t NextData = -1;
    bool Done = false;
    TRawRead Read;
    TSharedBuffer Buffer;
  };
  // Waits until the chunk's read is done; called with aheadLock_ held.
  void WaitFor(std::unique_lock<std::mutex>& lock, const TAhead& ahead);
  // Drops the oldest chunk once it is read; called with aheadLock_ held.
  void DropOldest(std::unique_lock<std::mutex>& lock);

  std::mutex aheadLock_;
  std::condition_variable aheadChanged_;
  std::deque<TAhead> ahead_;  // oldest first; guarded by aheadLock_, as are the two below
  // Buffers given back; one is used again once nobody else holds it.
  std::vector<TSharedBuffer> spareBuffers_;
  // The size of the caller's chunk buffer: read-ahead buffers are made as large, so that a
  // chunk read ahead is handed over by exchanging buffers rather than copied.
  std::size_t chunkBufferSize_ = 0;
  bool aheadQuit_ = false;
  std::thread aheadThread_;   // started at the first ReadAhead
};

}  // namespace quillon
