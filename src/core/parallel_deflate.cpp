#include "core/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "core/adler32.h"
#include "core/errors.h"

namespace quillon {
namespace {

constexpr std::size_t kWindowSize = 32768;

// Deflates one block as raw deflate data with the given dictionary, ended by a sync flush
// (so that the next block starts on a byte boundary) or, for the last, by the final block.
// The stream is reused from block to block. The output's first outputSize bytes are the
// block's; output is only ever grown (a used job keeps its size, so nothing is cleared
// again). Returns false when zlib fails.
template <typename TPieces>
bool DeflateBlock(z_stream& zs, const std::vector<std::uint8_t>& dictionary,
                  const TPieces& pieces, std::size_t inputSize, bool last,
                  std::vector<std::uint8_t>& output, std::size_t& outputSize) {
  if (deflateReset(&zs) != Z_OK) return false;
  if (!dictionary.empty() &&
      deflateSetDictionary(&zs, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK) {
    return false;
  }
  // Room for the worst case and the flush markers; grown if ever too little.
  const std::size_t room = deflateBound(&zs, static_cast<uLong>(inputSize)) + 64;
  if (output.size() < room) output.resize(room);
  std::size_t produced = 0;
  // Deflates what is in zs.next_in with flush; false when zlib fails. Without a flush the
  // output does not depend on how the input is cut into pieces.
  const auto run = [&](int flush) {
    for (;;) {
      zs.next_out = output.data() + produced;
      zs.avail_out = static_cast<uInt>(output.size() - produced);
      const int rc = deflate(&zs, flush);
      if (rc < 0 && rc != Z_BUF_ERROR) return false;
      produced = output.size() - zs.avail_out;
      const bool complete = flush == Z_FINISH ? rc == Z_STREAM_END
                                              : (zs.avail_in == 0 && zs.avail_out > 0);
      if (complete) return true;
      output.resize(output.size() * 2);
    }
  };
  for (const auto& piece : pieces) {
    zs.next_in = const_cast<Bytef*>(piece.Data);  // zlib's API is not const-correct
    zs.avail_in = static_cast<uInt>(piece.Size);
    if (!run(Z_NO_FLUSH)) return false;
  }
  zs.next_in = nullptr;
  zs.avail_in = 0;
  if (!run(last ? Z_FINISH : Z_SYNC_FLUSH)) return false;
  outputSize = produced;
  return true;
}

}  // namespace

TParallelDeflater::TParallelDeflater(unsigned workers, int level, int memLevel, int strategy)
    : level_(level), memLevel_(memLevel), strategy_(strategy),
      maxInFlight_(2 * static_cast<std::size_t>(std::max(1u, workers))) {
  for (unsigned i = 0; i < std::max(1u, workers); ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

TParallelDeflater::~TParallelDeflater() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  workAvailable_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

std::array<std::uint8_t, 2> TParallelDeflater::StreamHeader(int level) {
  // CMF: deflate with a 32 KiB window; FLG: the level's class as zlib writes it, no
  // dictionary, and the check bits that make CMF * 256 + FLG a multiple of 31.
  const int levelClass = level == 1 ? 0 : level < 6 ? 1 : level == 6 || level == -1 ? 2 : 3;
  const unsigned cmf = 0x78;
  unsigned flg = static_cast<unsigned>(levelClass) << 6;
  flg += 31 - (cmf * 256 + flg) % 31;
  return {static_cast<std::uint8_t>(cmf), static_cast<std::uint8_t>(flg)};
}

std::unique_ptr<TParallelDeflater::TJob> TParallelDeflater::NewJob() {
  std::unique_ptr<TJob> job;
  if (spareJobs_.empty()) {
    job = std::make_unique<TJob>();
    job->Input.reserve(kBlockSize);
  } else {
    job = std::move(spareJobs_.back());
    spareJobs_.pop_back();
    job->Pieces.clear();
    job->Size = 0;
    job->Input.clear();
    job->Last = false;
    job->OutputSize = 0;
    job->Adler = 1;
    job->Done = false;
    job->Failed = false;
  }
  return job;
}

void TParallelDeflater::Append(const std::uint8_t* data, std::size_t n) {
  TJob& job = *filling_;
  if (!job.Pieces.empty() && job.Pieces.back().Data + job.Pieces.back().Size == data) {
    job.Pieces.back().Size += n;
  } else {
    job.Pieces.push_back({data, n});
  }
  job.Size += n;
}

void TParallelDeflater::SubmitIfFull(const TSink& sink) {
  if (filling_->Size < kBlockSize) return;
  Submit(false);
  Deliver(false, sink);
  while (inOrder_.size() >= maxInFlight_) Deliver(true, sink);
}

void TParallelDeflater::Add(const std::uint8_t* data, std::size_t n, const TSink& sink) {
  while (n > 0) {
    if (!filling_) filling_ = NewJob();
    // The block's copied bytes never outgrow the room reserved for them (kBlockSize), so
    // the pieces that point into them stay valid.
    const std::size_t take = std::min(n, kBlockSize - filling_->Size);
    std::vector<std::uint8_t>& input = filling_->Input;
    const std::size_t at = input.size();
    input.insert(input.end(), data, data + take);
    Append(input.data() + at, take);
    data += take;
    n -= take;
    SubmitIfFull(sink);
  }
}

void TParallelDeflater::AddHeld(const std::uint8_t* data, std::size_t n,
                                const std::shared_ptr<const void>& holder, const TSink& sink) {
  while (n > 0) {
    if (!filling_) filling_ = NewJob();
    std::vector<std::shared_ptr<const void>>& holders = filling_->Holders;
    const bool held = !holders.empty() && holders.back() == holder;
    if (!held && holders.size() >= kMaxHolders) {
      // Bytes from many places (pages scattered over many chunks): copied, so that a block
      // keeps no more than a few chunks from being read into again.
      const std::size_t take = std::min(n, kBlockSize - filling_->Size);
      Add(data, take, sink);
      data += take;
      n -= take;
      continue;
    }
    if (!held) holders.push_back(holder);
    const std::size_t take = std::min(n, kBlockSize - filling_->Size);
    Append(data, take);
    data += take;
    n -= take;
    SubmitIfFull(sink);
  }
}

std::uint32_t TParallelDeflater::Finish(const TSink& sink) {
  if (!filling_) filling_ = NewJob();
  Submit(true);
  while (!inOrder_.empty()) Deliver(true, sink);
  return adler_;
}

std::uint32_t TParallelDeflater::Flush(const TSink& sink) {
  if (filling_ && filling_->Size > 0) Submit(false);
  filling_.reset();
  while (!inOrder_.empty()) Deliver(true, sink);
  // The next block starts without a dictionary: nothing after the cut refers back over it.
  history_.clear();
  return adler_;
}

void TParallelDeflater::Submit(bool last) {
  std::unique_ptr<TJob> job = std::move(filling_);
  job->Last = last;
  job->Dictionary = history_;
  // The next block's dictionary: the last 32 KiB of the stream so far, from this block's
  // last pieces (and the history before it, where the block is shorter).
  std::size_t skip = job->Size > kWindowSize ? job->Size - kWindowSize : 0;
  if (skip > 0) history_.clear();
  for (const TPiece& piece : job->Pieces) {
    if (skip >= piece.Size) {
      skip -= piece.Size;
      continue;
    }
    history_.insert(history_.end(), piece.Data + skip, piece.Data + piece.Size);
    skip = 0;
  }
  if (history_.size() > kWindowSize) {
    history_.erase(history_.begin(), history_.end() - kWindowSize);
  }
  TJob* raw = job.get();
  inOrder_.push_back(std::move(job));
  {
    std::lock_guard lock(mutex_);
    todo_.push_back(raw);
  }
  workAvailable_.notify_one();
}

void TParallelDeflater::Deliver(bool wait, const TSink& sink) {
  while (!inOrder_.empty()) {
    TJob& job = *inOrder_.front();
    {
      std::unique_lock lock(mutex_);
      if (wait) {
        jobDone_.wait(lock, [&] { return job.Done; });
      } else if (!job.Done) {
        return;
      }
    }
    if (job.Failed) throw EQuillonError(kCompressionError);
    adler_ = adler32_combine(adler_, job.Adler, static_cast<z_off_t>(job.Size));
    if (job.OutputSize > 0) sink(job.Output.data(), job.OutputSize);
    // The block is done with the memory it held: its holders may write there again.
    job.Holders.clear();
    spareJobs_.push_back(std::move(inOrder_.front()));
    inOrder_.pop_front();
    wait = false;
  }
}

void TParallelDeflater::WorkerLoop() {
  z_stream zs{};
  const bool ready =
      deflateInit2(&zs, level_, Z_DEFLATED, -15, memLevel_, strategy_) == Z_OK;  // raw deflate
  for (;;) {
    TJob* job = nullptr;
    {
      std::unique_lock lock(mutex_);
      workAvailable_.wait(lock, [&] { return stopping_ || !todo_.empty(); });
      if (stopping_) break;
      job = todo_.front();
      todo_.pop_front();
    }
    bool ok = false;
    try {  // out of memory for the output fails the block, not the program
      ok = ready && DeflateBlock(zs, job->Dictionary, job->Pieces, job->Size, job->Last,
                                 job->Output, job->OutputSize);
    } catch (const std::bad_alloc&) {
    }
    std::uint32_t adler = 1;
    for (const TPiece& piece : job->Pieces) adler = Adler32(adler, piece.Data, piece.Size);
    job->Adler = adler;
    {
      std::lock_guard lock(mutex_);
      job->Failed = !ok;
      job->Done = true;
    }
    jobDone_.notify_all();
  }
  if (ready) deflateEnd(&zs);
}

}  // namespace quillon
