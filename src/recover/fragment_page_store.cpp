#include <cstdint>
#include "recover/fragment_page_store.h"

#include <zlib.h>

#include <algorithm>
#include <iterator>
#include <set>

#include "core/errors.h"
#include "core/fragment_file_format.h"
#include "core/little_endian.h"
#include "core/page_head.h"

namespace quillon::recover {
namespace {

// Tells how many bytes of the fragment file were read, every 16 MiB, while the store opens.
class TCountingStream : public TStream {
 public:
  TCountingStream(std::unique_ptr<TStream> inner, std::function<void(std::uint64_t)> progress)
      : inner_(std::move(inner)), progress_(std::move(progress)) {}
  std::size_t Read(void* buffer, std::size_t n) override {
    const std::size_t got = inner_->Read(buffer, n);
    done_ += got;
    if (progress_ && done_ - shown_ >= (16u << 20)) {
      shown_ = done_;
      progress_(done_);
    }
    return got;
  }
  std::size_t Write(const void* buffer, std::size_t n) override { return inner_->Write(buffer, n); }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return inner_->Seek(offset, origin);
  }
  TReadFailure LastReadFailure() const override { return inner_->LastReadFailure(); }
  void StopTelling() { progress_ = nullptr; }

 private:
  std::unique_ptr<TStream> inner_;
  std::function<void(std::uint64_t)> progress_;
  std::uint64_t done_ = 0;
  std::uint64_t shown_ = 0;
};

}  // namespace

std::string PageMapPathFor(const std::string& fragmentPath) {
  const std::size_t slash = fragmentPath.find_last_of("/\\");
  const std::size_t dot = fragmentPath.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? fragmentPath.substr(0, dot) : fragmentPath) + kPageMapExtension;
}

void TFragmentPageStore::TakeContinuations(TPageMapContents& map) {
  // The places on the 4096-byte grid of the definitions that go on to another page.
  std::set<std::int64_t> grids;
  for (const TKeptPageRef& page : map.Pages) {
    if (page.Kind != TPageKind::Definition) continue;
    std::uint8_t next[4] = {};
    const auto at = static_cast<std::int64_t>(page.FileOffset + 4);
    if (pageMap_->Seek(at, TSeekOrigin::Begin) != at || pageMap_->Read(next, 4) != 4) continue;
    if (next[0] | next[1] | next[2] | next[3]) grids.insert(page.SourceOffset % kPageSize);
  }
  std::vector<TKeptPageRef> taken;
  for (const TKeptPageRef& page : map.Continuations) {
    if (grids.count(page.SourceOffset % kPageSize)) taken.push_back(page);
  }
  if (taken.empty()) return;
  std::vector<TKeptPageRef> pages;
  pages.reserve(map.Pages.size() + taken.size());
  std::merge(map.Pages.begin(), map.Pages.end(), taken.begin(), taken.end(),
             std::back_inserter(pages), [](const TKeptPageRef& a, const TKeptPageRef& b) {
               return a.SourceOffset < b.SourceOffset;
             });
  map.Pages = std::move(pages);
}

TFragmentPageStore::TFragmentPageStore(std::unique_ptr<TStream> fragmentFile,
                                       std::string shownFragmentPath,
                                       std::unique_ptr<TStream> pageMap,
                                       std::string shownPageMapPath,
                                       const std::function<void(std::uint64_t)>& progress)
    : fragmentFile_(std::make_unique<TCountingStream>(std::move(fragmentFile), progress)),
      shownFragmentPath_(std::move(shownFragmentPath)),
      pageMap_(std::move(pageMap)),
      shownPageMapPath_(std::move(shownPageMapPath)) {
  // First the file's own check, which also gives every fragment's owner and the checksum
  // that ties the page map to it.
  std::vector<std::uint32_t> owners;
  std::uint32_t crc = 0;
  fragmentFile_->Seek(0, TSeekOrigin::Begin);
  notes_.FragmentFile = ReadFragmentFile(
      *fragmentFile_, [&](std::uint64_t, std::span<const std::uint8_t, kFragmentSize> page) {
        owners.push_back(*ReadU32(page, kOwnerAt));
        crc = static_cast<std::uint32_t>(crc32(crc, page.data(), kFragmentSize));
      });
  const TFragmentFileReport& report = notes_.FragmentFile;
  if (report.State == TFragmentFileState::Corrupt && owners.empty()) {
    throw EQuillonError("Cannot read the fragment file \"" + shownFragmentPath_ +
                        "\": " + report.Problem);
  }
  if (report.State != TFragmentFileState::Complete) {
    notes_.Warnings.push_back("The fragment file \"" + shownFragmentPath_ + "\" is " +
                              StateName(report.State) + ": " + report.Problem + " Its " +
                              std::to_string(owners.size()) + " whole fragments are used.");
  }
  index_ = std::make_unique<TInflateIndex>(*fragmentFile_, shownFragmentPath_);
  index_->Build(owners.size() * kFragmentSize);
  static_cast<TCountingStream&>(*fragmentFile_).StopTelling();

  TPageMapContents map;
  if (pageMap_) {
    notes_.PageMapFound = true;
    map = ReadPageMap(*pageMap_, shownPageMapPath_);
    notes_.PageMapComplete = map.Complete;
    if (!map.Problem.empty()) notes_.Warnings.push_back(map.Problem);
    if (map.Complete && map.End != TPageMapScanEnd::Completed) {
      notes_.Warnings.push_back(
          "The page map \"" + shownPageMapPath_ + "\" says its scan " +
          (map.End == TPageMapScanEnd::Stopped ? "was stopped" : "ended by a failure") +
          " at offset " + std::to_string(map.EndPosition) +
          ": the source was read only up to there.");
    }
    const bool wholeFiles = map.Complete && report.State == TFragmentFileState::Complete;
    if (wholeFiles && (map.Fragments != owners.size() || map.FragmentsCrc != crc)) {
      notes_.Warnings.push_back("The page map \"" + shownPageMapPath_ +
                                "\" does not belong to the fragment file \"" +
                                shownFragmentPath_ + "\" (they count or hold other fragments): "
                                "it is not used.");
      map = TPageMapContents{};
    } else if (map.FragmentOffsets.size() > owners.size()) {
      map.FragmentOffsets.resize(owners.size());
    }
  } else {
    notes_.Warnings.push_back("No page map \"" + shownPageMapPath_ +
                              "\" lies beside the fragment file: the pages' places on the "
                              "source and the table definitions are unknown, so tables come "
                              "out untyped, named from the catalog where it is found.");
  }
  TakeContinuations(map);
  notes_.OffsetsUsed = !map.FragmentOffsets.empty();
  notes_.KeptPages = map.Pages.size();
  hasOffsets_ = map.Complete && map.FragmentOffsets.size() == owners.size();

  // In source order: the fragments with known offsets merged with the kept pages (both come
  // in source order), then the fragments whose offsets are not known, in the file's order.
  entries_.reserve(owners.size() + map.Pages.size());
  // A page that the source's end cuts short holds zeros where its bytes are missing, which
  // would read as values: it is left out (its values come out as not found, never wrong).
  const std::int64_t wholeUpTo = map.Complete ? map.EndPosition : INT64_MAX;
  std::uint64_t cutPages = 0;
  const auto whole = [&](std::int64_t offset) {
    const bool isWhole = offset < 0 || offset <= wholeUpTo - static_cast<std::int64_t>(kPageSize);
    if (!isWhole) ++cutPages;
    return isWhole;
  };
  std::size_t page = 0;
  for (std::size_t f = 0; f < map.FragmentOffsets.size(); ++f) {
    while (page < map.Pages.size() && map.Pages[page].SourceOffset < map.FragmentOffsets[f]) {
      if (whole(map.Pages[page].SourceOffset)) {
        entries_.push_back({map.Pages[page].SourceOffset, map.Pages[page].FileOffset, 0,
                            map.Pages[page].Kind});
      }
      ++page;
    }
    if (whole(map.FragmentOffsets[f])) {
      entries_.push_back({map.FragmentOffsets[f], f, owners[f], TPageKind::Data});
    }
  }
  for (; page < map.Pages.size(); ++page) {
    if (whole(map.Pages[page].SourceOffset)) {
      entries_.push_back(
          {map.Pages[page].SourceOffset, map.Pages[page].FileOffset, 0, map.Pages[page].Kind});
    }
  }
  for (std::size_t f = map.FragmentOffsets.size(); f < owners.size(); ++f) {
    entries_.push_back({-1, f, owners[f], TPageKind::Data});
  }
  if (cutPages > 0) {
    notes_.Warnings.push_back(std::to_string(cutPages) + (cutPages == 1 ? " page" : " pages") +
                              " of \"" + shownFragmentPath_ + "\" reach past offset " +
                              std::to_string(wholeUpTo) +
                              ", where the source was read up to: left out, as their missing "
                              "bytes would read as values.");
  }
}

TPageEntry TFragmentPageStore::Entry(std::size_t index) const {
  const TEntry& entry = entries_.at(index);
  return {entry.SourceOffset, entry.Kind, entry.Owner};
}

std::uint64_t TFragmentPageStore::FragmentNumber(std::size_t index) const {
  const TEntry& entry = entries_.at(index);
  return entry.Kind == TPageKind::Data ? entry.Where : index;
}

void TFragmentPageStore::Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const {
  const TEntry& entry = entries_.at(index);
  if (entry.Kind == TPageKind::Data) {
    index_->Read(entry.Where * kFragmentSize, out);
    return;
  }
  const auto at = static_cast<std::int64_t>(entry.Where);
  if (pageMap_->Seek(at, TSeekOrigin::Begin) != at ||
      pageMap_->Read(out.data(), kPageSize) != kPageSize) {
    throw EQuillonError("Cannot read the page map \"" + shownPageMapPath_ + "\" at byte " +
                        std::to_string(at) + ": it ends early or cannot be read.");
  }
}

}  // namespace quillon::recover
