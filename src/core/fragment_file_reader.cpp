#include "core/fragment_file_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/little_endian.h"

namespace quillon {
namespace {

template <std::size_t N>
bool Matches(const std::uint8_t* at, const std::array<std::uint8_t, N>& expected) {
  return std::memcmp(at, expected.data(), N) == 0;
}

// The header's fixed bytes; an empty text when they are all as written.
std::string CheckHeader(const std::uint8_t* header) {
  if (!Matches(header + kSignatureOffset, kSignature)) return "no fragment file signature";
  if (!Matches(header + kAesTagOffset, kAesTag)) return "header: wrong tag at offset 8";
  if (!Matches(header + kFixTagOffset, kFixTag)) return "header: wrong tag at offset 13";
  if (header[12] != 0 || LittleEndianAt<4>(header + 19) != 0) return "header: nonzero reserved bytes";
  for (std::size_t i = 0; i < kHeaderInts.size(); ++i) {
    if (LittleEndianAt<4>(header + kHeaderIntsOffset + 4 * i) != kHeaderInts[i]) {
      return "header: unexpected value at offset " + std::to_string(kHeaderIntsOffset + 4 * i);
    }
  }
  return {};
}

class TBodyInflater {
 public:
  explicit TBodyInflater(const TFragmentVisitor& onFragment) : onFragment_(onFragment) {
    inflateInit(&zs_);
  }
  ~TBodyInflater() { inflateEnd(&zs_); }

  // Feeds compressed bytes and says how many were taken. Returns Z_STREAM_END once the
  // stream's end (with its Adler-32 checked) is reached, Z_OK while more input is needed,
  // or a negative zlib status for damaged data.
  int Feed(const std::uint8_t* data, std::size_t n, std::size_t& taken) {
    zs_.next_in = const_cast<Bytef*>(data);  // zlib's API is not const-correct
    zs_.avail_in = static_cast<uInt>(n);
    int rc = Z_OK;
    do {
      zs_.next_out = out_.data();
      zs_.avail_out = static_cast<uInt>(out_.size());
      rc = inflate(&zs_, Z_NO_FLUSH);
      Deliver(out_.data(), out_.size() - zs_.avail_out);
      if (rc == Z_NEED_DICT) rc = Z_DATA_ERROR;  // a scan never writes a preset dictionary
      if (rc == Z_BUF_ERROR) rc = Z_OK;          // no progress possible: needs more input
      if (rc != Z_OK) break;
    } while (zs_.avail_in > 0 || zs_.avail_out == 0);
    taken = n - zs_.avail_in;
    return rc;
  }

  std::uint64_t Fragments() const { return fragments_; }
  std::size_t PartialBytes() const { return partial_.size(); }
  const char* Message() const { return zs_.msg ? zs_.msg : "invalid compressed data"; }

 private:
  void Deliver(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
      const std::size_t take = std::min(n, kFragmentSize - partial_.size());
      partial_.insert(partial_.end(), data, data + take);
      data += take;
      n -= take;
      if (partial_.size() == kFragmentSize) {
        if (onFragment_) {
          onFragment_(fragments_, std::span<const std::uint8_t, kFragmentSize>(partial_.data(),
                                                                              kFragmentSize));
        }
        ++fragments_;
        partial_.clear();
      }
    }
  }

  z_stream zs_{};
  const TFragmentVisitor& onFragment_;
  std::vector<std::uint8_t> out_ = std::vector<std::uint8_t>(65536);
  std::vector<std::uint8_t> partial_;
  std::uint64_t fragments_ = 0;
};

// rest holds the first bytes after the body; restLength counts all of them, also those
// that were not read in.
std::string CheckTrailer(const std::vector<std::uint8_t>& rest, std::uint64_t restLength,
                         std::uint64_t bodyEnd) {
  const std::size_t pad = TrailerPadFor(bodyEnd + 4);
  const std::size_t expected = 4 + pad + 4;
  if (rest.size() < expected) return "the trailer is cut short";
  for (std::size_t i = 0; i < 4 + pad; ++i) {
    if (rest[i] != 0) return "the trailer's zero bytes are not zero";
  }
  if (!std::equal(kTrailerTag.begin(), kTrailerTag.end(), rest.begin() + 4 + pad)) {
    return "the trailer does not end in \"TEMP\"";
  }
  if (restLength > expected) {
    return std::to_string(restLength - expected) + " unexpected bytes after the trailer";
  }
  return {};
}

// The first offset from on, within n bytes, that a read of its 512-byte sector fails at:
// a failed large read names the place itself. from when none fails on the second try.
std::uint64_t FirstUnreadable(TStream& file, std::uint64_t from, std::size_t n) {
  std::uint8_t sector[512];
  for (std::uint64_t at = from; at < from + n; at += sizeof sector) {
    if (file.Seek(static_cast<std::int64_t>(at), TSeekOrigin::Begin) < 0) return at;
    const std::size_t got = file.Read(sector, sizeof sector);
    if (got < sizeof sector && file.LastReadFailure() != TReadFailure::None) return at + got;
    if (got == 0) break;
  }
  return from;
}

}  // namespace

const char* StateName(TFragmentFileState state) {
  switch (state) {
    case TFragmentFileState::Complete: return "complete";
    case TFragmentFileState::Incomplete: return "incomplete";
    case TFragmentFileState::Corrupt: return "corrupt";
    case TFragmentFileState::Unreadable: return "unreadable";
  }
  return "corrupt";
}

TFragmentFileReport ReadFragmentFile(TStream& file, const TFragmentVisitor& onFragment) {
  TFragmentFileReport report;
  const std::int64_t length = file.Length();
  report.FileLength = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  file.Seek(0, TSeekOrigin::Begin);

  // A read that fails is the medium's fault, not the scan's: said as such, with the
  // system's reason, so that nobody re-scans a disk because a copy could not be read.
  const auto readFailed = [&](std::uint64_t from, std::size_t left) {
    if (file.LastReadFailure() == TReadFailure::None) return false;
    std::string reason = file.LastErrorText();
    const std::uint64_t at = FirstUnreadable(file, from, left);
    if (file.LastReadFailure() != TReadFailure::None && !file.LastErrorText().empty()) {
      reason = file.LastErrorText();
    }
    report.State = TFragmentFileState::Unreadable;
    report.Problem = "the file could not be read at offset " + std::to_string(at) +
                     (reason.empty() ? std::string() : ": " + reason);
    return true;
  };

  std::uint8_t header[kHeaderSize];
  const std::size_t headerBytes = file.Read(header, kHeaderSize);
  if (headerBytes < kHeaderSize && readFailed(headerBytes, kHeaderSize - headerBytes)) {
    return report;
  }
  if (headerBytes == 0 && report.FileLength == 0) {
    report.State = TFragmentFileState::Incomplete;
    report.Problem = "empty (0 bytes): nothing was written to it";
    return report;
  }
  if (headerBytes < kSignature.size() || !Matches(header, kSignature)) {
    report.Problem = "not a fragment file: no signature";
    return report;
  }
  if (headerBytes < kHeaderSize) {
    report.State = TFragmentFileState::Incomplete;
    report.Problem = "the header is cut short";
    return report;
  }
  if (std::string problem = CheckHeader(header); !problem.empty()) {
    report.Problem = problem;
    return report;
  }
  const auto* pathStart = reinterpret_cast<const char*>(header + kSourcePathOffset);
  report.SourcePath.assign(pathStart, strnlen(pathStart, kMaxSourcePathBytes));
  report.SourceLength = static_cast<std::int64_t>(LittleEndianAt<8>(header + kSourceLengthOffset));

  TBodyInflater inflater(onFragment);
  std::vector<std::uint8_t> buffer(65536);
  std::vector<std::uint8_t> rest;  // the bytes after the body's end
  std::uint64_t offset = kHeaderSize;
  std::uint64_t readEnd = kHeaderSize;  // the offset the next read starts at
  int rc = Z_OK;
  for (;;) {
    const std::size_t got = file.Read(buffer.data(), buffer.size());
    if (got < buffer.size() && readFailed(readEnd + got, buffer.size() - got)) {
      report.Fragments = inflater.Fragments();
      return report;
    }
    readEnd += got;
    if (got == 0) break;
    if (report.BodyEnded) {
      rest.insert(rest.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
      if (rest.size() > 64) break;  // already far more than any trailer
      continue;
    }
    std::size_t taken = 0;
    rc = inflater.Feed(buffer.data(), got, taken);
    offset += taken;
    if (rc < 0) break;
    if (rc == Z_STREAM_END) {
      report.BodyEnded = true;
      report.BodyLength = offset - kHeaderSize;
      rest.assign(buffer.begin() + static_cast<std::ptrdiff_t>(taken),
                  buffer.begin() + static_cast<std::ptrdiff_t>(got));
    }
  }
  report.Fragments = inflater.Fragments();

  if (!report.BodyEnded) {
    if (rc < 0) {
      report.Problem = std::string("the body is damaged at or before offset ") +
                       std::to_string(offset) + ": " + inflater.Message();
    } else {
      report.State = TFragmentFileState::Incomplete;
      report.Problem = "the body ends before its compressed stream does: no trailer "
                       "(the scan that wrote it did not finish)";
    }
    return report;
  }
  if (rest.empty()) {
    report.State = TFragmentFileState::Incomplete;
    report.Problem = "no trailer after the body";
    return report;
  }
  // Reading stopped soon after the trailer; the file's length tells how much follows it.
  const std::uint64_t bodyEnd = kHeaderSize + report.BodyLength;
  const std::uint64_t afterBody = report.FileLength > bodyEnd ? report.FileLength - bodyEnd : 0;
  const std::uint64_t restLength = std::max<std::uint64_t>(rest.size(), afterBody);
  if (std::string problem = CheckTrailer(rest, restLength, bodyEnd); !problem.empty()) {
    report.State = rest.size() < 4 + TrailerPadFor(bodyEnd + 4) + 4
                       ? TFragmentFileState::Incomplete
                       : TFragmentFileState::Corrupt;
    report.Problem = problem;
    return report;
  }
  // The trailer is sound whatever the body holds.
  report.TrailerValid = true;
  if (inflater.PartialBytes() != 0) {
    report.Problem = "the body holds " + std::to_string(inflater.PartialBytes()) +
                     " bytes beyond its last whole 4096-byte fragment";
    return report;
  }
  report.State = TFragmentFileState::Complete;
  return report;
}

}  // namespace quillon
