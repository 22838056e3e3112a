#pragma once
// One zlib stream (RFC 1950) compressed on several threads: the input is cut into blocks,
// each block is deflated on a worker with the 32 KiB before it as its dictionary and ended
// with a sync flush (the last one with a finish), and the blocks' output is joined in
// order. Any inflater reads the result as one stream; the Adler-32 values of the blocks
// are combined into the stream's.
//
// Add and Finish are called from one thread, and the output is handed to the sink on that
// thread, in order. At most a few blocks per worker are in flight: Add waits for the
// oldest when more would be.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon {

class TParallelDeflater {
 public:
  using TSink = std::function<void(const std::uint8_t* data, std::size_t n)>;

  // Input bytes per block: large enough that the dictionary and the flush cost little.
  static constexpr std::size_t kBlockSize = 1024 * 1024;

  // Starts the workers. level, memLevel and strategy are deflate's; the window is 32 KiB.
  TParallelDeflater(unsigned workers, int level, int memLevel, int strategy);
  // Stops the workers, dropping what was not delivered.
  ~TParallelDeflater();
  TParallelDeflater(const TParallelDeflater&) = delete;
  TParallelDeflater& operator=(const TParallelDeflater&) = delete;

  // The two bytes that begin the stream, for the level given.
  static std::array<std::uint8_t, 2> StreamHeader(int level);

  // Appends n bytes to the stream; output completed meanwhile goes to the sink. Throws the
  // compression error when a block failed, and what the sink throws.
  void Add(const std::uint8_t* data, std::size_t n, const TSink& sink);

  // As Add, without copying the bytes where that is cheap: they are compressed where they
  // lie, and holder is held until their block's output has gone to the sink, so the caller
  // must not change them while it holds holder too. A block holds at most kMaxHolders;
  // past that the bytes are copied as by Add.
  void AddHeld(const std::uint8_t* data, std::size_t n, const std::shared_ptr<const void>& holder,
               const TSink& sink);
  static constexpr std::size_t kMaxHolders = 6;

  // Cuts the stream here: the input added so far is compressed and handed to the sink,
  // ending on a byte boundary, and what follows refers to nothing before (as a full flush
  // does), so the stream can be continued from this point by another compressor. Returns
  // the Adler-32 of all the input so far.
  std::uint32_t Flush(const TSink& sink);

  // For a stream continued after a Flush of an earlier one: the Adler-32 of the input
  // before this compressor's. Call before the first Add.
  void ContinueAfter(std::uint32_t adlerSoFar) { adler_ = adlerSoFar; }

  // Ends the stream: every block's output goes to the sink, the last one ending the deflate
  // data. Returns the Adler-32 of all the input, which the caller stores after the output.
  std::uint32_t Finish(const TSink& sink);

 private:
  // Jobs are used again once delivered, buffers and all: a block's input, dictionary and
  // output are filled in memory that is already there, never allocated and cleared anew.
  // A stretch of a block's input: in the job's own Input, or in memory a holder keeps.
  struct TPiece {
    const std::uint8_t* Data = nullptr;
    std::size_t Size = 0;
  };
  struct TJob {
    std::vector<TPiece> Pieces;  // the block's input, in order
    std::size_t Size = 0;        // of all the pieces
    std::vector<std::uint8_t> Input;  // copied bytes; never grown past kBlockSize (pieces point in)
    std::vector<std::shared_ptr<const void>> Holders;  // keep the other pieces' memory
    std::vector<std::uint8_t> Dictionary;  // up to 32 KiB that precede the input in the stream
    bool Last = false;
    std::vector<std::uint8_t> Output;  // its first OutputSize bytes are the block's output
    std::size_t OutputSize = 0;
    std::uint32_t Adler = 1;
    bool Done = false;
    bool Failed = false;
  };

  // A job to fill: a delivered one where there is one.
  std::unique_ptr<TJob> NewJob();
  // Appends a piece to the block being filled, joined to the last one where it follows it.
  void Append(const std::uint8_t* data, std::size_t n);
  // Submits the block being filled once it is full, and delivers what is done.
  void SubmitIfFull(const TSink& sink);
  void Submit(bool last);
  // Hands the finished jobs at the front to the sink; with wait, waits for the first one.
  void Deliver(bool wait, const TSink& sink);
  void WorkerLoop();

  int level_;
  int memLevel_;
  int strategy_;
  std::size_t maxInFlight_;
  std::unique_ptr<TJob> filling_;                 // the block being filled by Add
  std::vector<std::uint8_t> history_;             // the last 32 KiB of input submitted
  std::deque<std::unique_ptr<TJob>> inOrder_;     // submitted, not yet delivered, in order
  std::vector<std::unique_ptr<TJob>> spareJobs_;  // delivered, to be filled again
  std::uint32_t adler_ = 1;                       // of the input delivered so far

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable jobDone_;
  std::deque<TJob*> todo_;  // guarded by mutex_, as are every job's Done and the flag
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace quillon
