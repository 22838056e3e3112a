#pragma once
// The page store over a fragment file and, where there is one, the page map beside it. Only
// a small entry per page is held in memory; the pages are read again from the files when
// asked for.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/fragment_file_reader.h"
#include "core/stream.h"
#include "recover/inflate_index.h"
#include "recover/page_map_reader.h"
#include "recover/page_store.h"

namespace quillon::recover {

// What was found on opening, for the summary and the messages.
struct TPageStoreNotes {
  TFragmentFileReport FragmentFile;  // its state; an incomplete file is read as far as it goes
  bool PageMapFound = false;
  bool PageMapComplete = false;
  bool OffsetsUsed = false;  // some fragments' source offsets came from the page map
  std::uint64_t KeptPages = 0;
  // Each a sentence naming the file and what it means for the recovery; empty when all is
  // whole.
  std::vector<std::string> Warnings;
};

class TFragmentPageStore : public IPageStore {
 public:
  // Opens the store. fragmentFile and shownFragmentPath: the fragment file, read once now to
  // number its fragments. pageMap: the page map beside it, or null where there is none.
  // progress is told the bytes of the fragment file read so far: it is read twice, once to
  // check and number it, once to take the restart points. Throws EQuillonError when the
  // fragment file cannot be read at all.
  TFragmentPageStore(std::unique_ptr<TStream> fragmentFile, std::string shownFragmentPath,
                     std::unique_ptr<TStream> pageMap, std::string shownPageMapPath,
                     const std::function<void(std::uint64_t)>& progress);

  std::size_t Count() const override { return entries_.size(); }
  TPageEntry Entry(std::size_t index) const override;
  bool HasOffsets() const override { return hasOffsets_; }
  std::uint64_t FragmentNumber(std::size_t index) const override;
  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override;

  const TPageStoreNotes& Notes() const { return notes_; }

 private:
  struct TEntry {
    std::int64_t SourceOffset;
    std::uint64_t Where;  // the fragment's number, or the page's offset in the page map
    std::uint32_t Owner;
    TPageKind Kind;
  };

  // Adds to the kept pages the possible continuations that lie on the grid of a definition
  // going on to another page.
  void TakeContinuations(TPageMapContents& map);

  std::unique_ptr<TStream> fragmentFile_;
  std::string shownFragmentPath_;
  std::unique_ptr<TStream> pageMap_;
  std::string shownPageMapPath_;
  std::unique_ptr<TInflateIndex> index_;
  std::vector<TEntry> entries_;
  bool hasOffsets_ = false;
  TPageStoreNotes notes_;
};

// The page map's path beside a fragment file: "x/fragments.frag" → "x/fragments.pagemap".
std::string PageMapPathFor(const std::string& fragmentPath);

}  // namespace quillon::recover
