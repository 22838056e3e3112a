#pragma once
// Reads a fragment file back and checks it: header, body stream, fragments and trailer.
// The program that writes the files never needs this; it lets a user check a file
// before handing it on.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "core/fragment_file_format.h"
#include "core/stream.h"

namespace quillon {

enum class TFragmentFileState {
  Complete,    // header, whole body and trailer as written by a finished scan
  Incomplete,  // cut short: the body or the trailer stops early (a failed or killed scan)
  Corrupt,     // not a fragment file, or bytes that a scan cannot have written
  Unreadable,  // the file itself could not be read to its end: its medium failed
};

struct TFragmentFileReport {
  TFragmentFileState State = TFragmentFileState::Corrupt;
  std::string Problem;  // what is wrong, empty for a complete file
  std::string SourcePath;
  std::int64_t SourceLength = 0;
  std::uint64_t FileLength = 0;
  std::uint64_t BodyLength = 0;  // compressed bytes, once the end of the stream was found
  std::uint64_t Fragments = 0;   // whole fragments inflated
  bool BodyEnded = false;        // the zlib stream reached its end with a valid Adler-32
  bool TrailerValid = false;
};

using TFragmentVisitor =
    std::function<void(std::uint64_t index, std::span<const std::uint8_t, kFragmentSize>)>;

// Never throws for a bad file: what is wrong is in the report.
TFragmentFileReport ReadFragmentFile(TStream& file, const TFragmentVisitor& onFragment = {});

const char* StateName(TFragmentFileState state);

}  // namespace quillon
