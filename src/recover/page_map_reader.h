#pragma once
// Reads a page map back (recover/page_map_format.h) and checks every record. A cut or
// damaged map is read up to its first bad record, and the report says where and why.

#include <cstdint>
#include <string>
#include <vector>

#include "core/stream.h"
#include "recover/page_map_format.h"
#include "recover/page_store.h"

namespace quillon::recover {

struct TKeptPageRef {
  std::int64_t SourceOffset = 0;
  TPageKind Kind = TPageKind::Definition;
  std::uint64_t FileOffset = 0;  // where its 4096 bytes lie in the page map
};

struct TPageMapContents {
  bool Readable = false;  // the header is a page map's of a version this program reads
  bool Complete = false;  // every record is whole, up to and with the closing record
  std::string Problem;    // what is wrong (naming the file), empty for a complete map
  std::vector<std::int64_t> FragmentOffsets;  // of fragments 0, 1, ... as far as read
  std::vector<TKeptPageRef> Pages;            // in source order
  // Pages that may continue a definition (Kind Definition), in source order: the store
  // takes those on the grid of a definition that goes on to another page.
  std::vector<TKeptPageRef> Continuations;
  std::uint64_t KeptRecords = 0;  // pages and possible continuations
  // From the closing record, when there is one.
  std::uint64_t Fragments = 0;
  std::int64_t EndPosition = 0;
  TPageMapScanEnd End = TPageMapScanEnd::Failed;
  std::uint32_t FragmentsCrc = 0;
};

// Never throws for a bad file: what is wrong is in Problem. shownPath names the file there.
TPageMapContents ReadPageMap(TStream& file, const std::string& shownPath);

}  // namespace quillon::recover
