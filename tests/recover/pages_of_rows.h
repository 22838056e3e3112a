#pragma once
// Store entries made up for the tests that tell copies and versions of one page number
// apart by their rows: each page given by its place, kind and owner, its rows as text.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "recover/copy_membership.h"

namespace quillon::recover::testing {

// The bytes of one place: the made-up pages lie at whole places.
inline constexpr std::int64_t kPlaceBytes = 4096;

// Store pages: data pages of owner 40 unless said otherwise, at the given places, with
// the rows each holds live and deleted.
struct TPagesOfRows {
  std::vector<TPageEntry> Entries;
  std::map<std::size_t, std::vector<std::string>> Rows;
  std::map<std::size_t, std::vector<std::string>> Deleted;

  std::size_t Add(std::int64_t place, std::vector<std::string> rows, std::uint32_t owner = 40,
                  TPageKind kind = TPageKind::Data) {
    Entries.push_back({place * kPlaceBytes, kind, owner});
    Rows[Entries.size() - 1] = std::move(rows);
    return Entries.size() - 1;
  }
  // Each page's live rows (Live) and deleted rows (Deleted; none unless given).
  TRowsOfCopies RowsOf() const {
    return {[this](std::size_t index) { return Rows.at(index); },
            [this](std::size_t index) {
              const auto found = Deleted.find(index);
              return found == Deleted.end() ? std::vector<std::string>{} : found->second;
            }};
  }
};

}  // namespace quillon::recover::testing
