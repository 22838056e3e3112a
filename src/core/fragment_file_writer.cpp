#include "core/fragment_file_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/adler32.h"
#include "core/errors.h"

namespace quillon {
namespace {

void StoreLe32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void StoreLe64(std::uint8_t* at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void ThrowIfZlibFailed(int rc) {
  if (rc < 0) throw EQuillonError(kCompressionError);
}

}  // namespace

TFragmentFileWriter::TFragmentFileWriter(IFileSystem& fileSystem, unsigned workers)
    : workers_(std::max(1u, workers)), output_(fileSystem) {}

TFragmentFileWriter::~TFragmentFileWriter() {
  // Never a move from here: a writer that is destroyed without Close did not end well.
  EndCompressor();
  output_.Close();
}

void TFragmentFileWriter::Create(const std::string& path) {
  EndCompressor();
  output_.Close();
  finished_ = false;
  output_.Create(path);
  bytesWritten_ = 0;
  fragmentCount_ = 0;
  fileCrc_ = 0;
}

void TFragmentFileWriter::CheckSourcePathFits(const std::string& sourcePath,
                                              const std::string& shownPath) {
  if (sourcePath.size() > kMaxSourcePathBytes) {
    throw EQuillonError("The source path is " + std::to_string(sourcePath.size()) +
                        " bytes long; the fragment file header holds at most " +
                        std::to_string(kMaxSourcePathBytes) + ": \"" + shownPath + "\"");
  }
}

void TFragmentFileWriter::WriteHeader(const std::string& sourcePath, std::int64_t sourceLength) {
  CheckSourcePathFits(sourcePath, sourcePath);
  std::uint8_t header[kHeaderSize] = {};
  std::memcpy(header + kSourcePathOffset, sourcePath.data(), sourcePath.size());
  StoreLe64(header + kSourceLengthOffset, static_cast<std::uint64_t>(sourceLength));
  std::memcpy(header + kSignatureOffset, kSignature.data(), kSignature.size());
  std::memcpy(header + kAesTagOffset, kAesTag.data(), kAesTag.size());
  std::memcpy(header + kFixTagOffset, kFixTag.data(), kFixTag.size());
  for (std::size_t i = 0; i < kHeaderInts.size(); ++i) {
    StoreLe32(header + kHeaderIntsOffset + 4 * i, kHeaderInts[i]);
  }
  WriteAll(header, sizeof header);

  StartCompressor(false, 1);
}

void TFragmentFileWriter::StartCompressor(bool continuing, std::uint32_t adlerSoFar) {
  outBuffer_.resize(kOutputBufferSize);
  raw_ = false;
  if (workers_ > 1) {
    // The workers' output is gathered in outBuffer_ through zs_'s output fields, as the
    // one-thread stream's is, so both write the file in the same whole pieces.
    parallel_ = std::make_unique<TParallelDeflater>(workers_, kDeflateLevel, kDeflateMemLevel,
                                                    Z_DEFAULT_STRATEGY);
    compressing_ = true;
    zs_.next_out = outBuffer_.data();
    zs_.avail_out = static_cast<uInt>(outBuffer_.size());
    if (continuing) {
      parallel_->ContinueAfter(adlerSoFar);
    } else {
      const auto head = TParallelDeflater::StreamHeader(kDeflateLevel);
      TakeCompressed(head.data(), head.size());
    }
    return;
  }
  zs_ = z_stream{};
  // A continued body is raw deflate data after the earlier one's: no second zlib header,
  // and the check value is this writer's to keep.
  raw_ = continuing;
  bodyAdler_ = adlerSoFar;
  ThrowIfZlibFailed(deflateInit2(&zs_, kDeflateLevel, Z_DEFLATED,
                                 continuing ? -kDeflateWindowBits : kDeflateWindowBits,
                                 kDeflateMemLevel, Z_DEFAULT_STRATEGY));
  compressing_ = true;
  zs_.next_out = outBuffer_.data();
  zs_.avail_out = static_cast<uInt>(outBuffer_.size());
}

void TFragmentFileWriter::CreateContinuing(const std::string& path, TStream& earlier,
                                           const TRestartPoint& point,
                                           const std::string& shownEarlier) {
  Create(path);
  const auto refuse = [&](const std::string& why) {
    throw EQuillonError("Cannot continue from \"" + shownEarlier + "\": " + why);
  };
  if (earlier.Seek(0, TSeekOrigin::Begin) != 0) refuse("it cannot be read");
  std::vector<std::uint8_t> piece(1024 * 1024);
  std::uint32_t crc = 0;
  for (std::int64_t left = point.FileBytes; left > 0;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, piece.size()));
    const std::size_t got = earlier.Read(piece.data(), want);
    if (got != want) {
      refuse("it ends before byte " + std::to_string(point.FileBytes) +
             ", where its state says the restart point is");
    }
    crc = static_cast<std::uint32_t>(crc32(crc, piece.data(), static_cast<uInt>(got)));
    WriteAll(piece.data(), got);
    left -= static_cast<std::int64_t>(got);
  }
  if (crc != point.FileCrc32) {
    refuse("its first " + std::to_string(point.FileBytes) +
           " bytes are not those its state describes (it was changed since)");
  }
  // The copy is brought to stable storage before anything follows it, so that the earlier
  // file may go as soon as this returns: past the point it holds what the earlier run wrote
  // (bytes cut at other points, or a finished stream), which this file never will.
  if (!output_.Stream().Flush()) {
    throw EWriteError(output_.PartialPath(), output_.Stream().LastErrorText());
  }
  fragmentCount_ = static_cast<std::uint64_t>(point.Fragments);
  StartCompressor(true, point.BodyAdler32);
}

TRestartPoint TFragmentFileWriter::TakeRestartPoint(std::int64_t sourceOffset) {
  std::uint32_t adler = 1;
  if (parallel_) {
    adler = parallel_->Flush(
        [this](const std::uint8_t* data, std::size_t n) { TakeCompressed(data, n); });
  } else {
    zs_.next_in = nullptr;
    zs_.avail_in = 0;
    // A full flush ends on a byte boundary and forgets the window: what follows can be
    // compressed by another stream. A second flush with nothing new is refused with
    // Z_BUF_ERROR, which is no failure.
    for (;;) {
      const int rc = deflate(&zs_, Z_FULL_FLUSH);
      if (rc != Z_BUF_ERROR) ThrowIfZlibFailed(rc);
      if (zs_.avail_out != 0) break;
      FlushFullBuffer();
    }
    adler = raw_ ? bodyAdler_ : static_cast<std::uint32_t>(zs_.adler);
  }
  const std::size_t pending = outBuffer_.size() - zs_.avail_out;
  if (pending > 0) WriteAll(outBuffer_.data(), pending);
  zs_.next_out = outBuffer_.data();
  zs_.avail_out = static_cast<uInt>(outBuffer_.size());
  // The state that names this point is written only after the bytes it names are stable.
  if (!output_.Stream().Flush()) {
    throw EWriteError(output_.PartialPath(), output_.Stream().LastErrorText());
  }
  TRestartPoint point;
  point.SourceOffset = sourceOffset;
  point.Fragments = static_cast<std::int64_t>(fragmentCount_);
  point.FileBytes = static_cast<std::int64_t>(bytesWritten_);
  point.FileCrc32 = fileCrc_;
  point.BodyAdler32 = adler;
  return point;
}

void TFragmentFileWriter::AddFragment(std::span<const std::uint8_t, kFragmentSize> fragment,
                                      const std::shared_ptr<const void>& holder) {
  if (parallel_) {
    const auto sink = [this](const std::uint8_t* data, std::size_t n) { TakeCompressed(data, n); };
    if (holder) {
      parallel_->AddHeld(fragment.data(), fragment.size(), holder, sink);
    } else {
      parallel_->Add(fragment.data(), fragment.size(), sink);
    }
    ++fragmentCount_;
    return;
  }
  if (raw_) {
    bodyAdler_ = Adler32(bodyAdler_, fragment.data(), fragment.size());
  }
  zs_.next_in = const_cast<Bytef*>(fragment.data());  // zlib's API is not const-correct
  zs_.avail_in = static_cast<uInt>(fragment.size());
  while (zs_.avail_in > 0) {
    ThrowIfZlibFailed(deflate(&zs_, Z_NO_FLUSH));
    if (zs_.avail_out == 0) FlushFullBuffer();
  }
  ++fragmentCount_;
}

void TFragmentFileWriter::Finish() {
  if (parallel_) {
    const std::uint32_t adler = parallel_->Finish(
        [this](const std::uint8_t* data, std::size_t n) { TakeCompressed(data, n); });
    const std::uint8_t check[4] = {static_cast<std::uint8_t>(adler >> 24),
                                   static_cast<std::uint8_t>(adler >> 16),
                                   static_cast<std::uint8_t>(adler >> 8),
                                   static_cast<std::uint8_t>(adler)};  // big-endian
    TakeCompressed(check, sizeof check);
  } else {
    for (;;) {
      const int rc = deflate(&zs_, Z_FINISH);
      ThrowIfZlibFailed(rc);
      if (rc == Z_STREAM_END) break;
      if (zs_.avail_out == 0) FlushFullBuffer();
    }
    if (raw_) {
      const std::uint8_t check[4] = {static_cast<std::uint8_t>(bodyAdler_ >> 24),
                                     static_cast<std::uint8_t>(bodyAdler_ >> 16),
                                     static_cast<std::uint8_t>(bodyAdler_ >> 8),
                                     static_cast<std::uint8_t>(bodyAdler_)};  // big-endian
      TakeCompressed(check, sizeof check);
    }
  }
  const std::size_t pending = outBuffer_.size() - zs_.avail_out;
  if (pending > 0) WriteAll(outBuffer_.data(), pending);
  EndCompressor();

  // Four zero bytes, then zero pad to a multiple of 4, then "TEMP".
  std::uint8_t trailer[4 + 3 + 4] = {};
  const std::size_t pad = TrailerPadFor(bytesWritten_ + 4);
  std::memcpy(trailer + 4 + pad, kTrailerTag.data(), kTrailerTag.size());
  WriteAll(trailer, 4 + pad + 4);
  // The file is on stable storage before anyone is told it is complete.
  if (!output_.Stream().Flush()) {
    throw EWriteError(output_.PartialPath(), output_.Stream().LastErrorText());
  }
  finished_ = true;
}

void TFragmentFileWriter::Close() {
  EndCompressor();
  if (!output_.IsOpen()) return;
  if (!finished_) {
    output_.Close();
    return;
  }
  finished_ = false;
  output_.Commit();
}

void TFragmentFileWriter::CloseKeepingPartial() {
  EndCompressor();
  finished_ = false;
  output_.Close();
}

void TFragmentFileWriter::FlushFullBuffer() {
  WriteAll(outBuffer_.data(), outBuffer_.size());
  zs_.next_out = outBuffer_.data();
  zs_.avail_out = static_cast<uInt>(outBuffer_.size());
}

void TFragmentFileWriter::EndCompressor() {
  if (!compressing_) return;
  compressing_ = false;
  if (parallel_) {
    parallel_.reset();
  } else {
    deflateEnd(&zs_);
  }
}

void TFragmentFileWriter::TakeCompressed(const std::uint8_t* data, std::size_t n) {
  while (n > 0) {
    const std::size_t take = std::min<std::size_t>(n, zs_.avail_out);
    std::memcpy(zs_.next_out, data, take);
    zs_.next_out += take;
    zs_.avail_out -= static_cast<uInt>(take);
    data += take;
    n -= take;
    if (zs_.avail_out == 0) FlushFullBuffer();
  }
}

void TFragmentFileWriter::WriteAll(const void* data, std::size_t n) {
  const std::size_t written = output_.Stream().Write(data, n);
  bytesWritten_ += written;
  fileCrc_ = static_cast<std::uint32_t>(
      crc32(fileCrc_, static_cast<const Bytef*>(data), static_cast<uInt>(written)));
  if (written != n) throw EWriteError(output_.PartialPath(), output_.Stream().LastErrorText());
}

}  // namespace quillon
