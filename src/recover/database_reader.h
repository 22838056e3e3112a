#pragma once
// Reading one database's pages by their page numbers, and its rows by their row pointers,
// with a stop asked for seen on every page read.

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "recover/database_layout.h"
#include "recover/page_slots.h"
#include "recover/recovery.h"
#include "recover/row_values.h"

namespace quillon::recover {

// For rows whose long values cannot be told apart from others': none is found.
class TNoLongValues : public ILongValueRows {
 public:
  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t, std::uint8_t) const override {
    return std::nullopt;
  }
};

// Thrown by the reader when a stop was asked for: decoding leaves whatever it was doing.
struct TDecodingStopped {};

// Reads pages of one database by their page numbers, keeping the last few read. Every page
// read from the store first asks whether a stop was requested (TDecodingStopped, until
// QuietStops), so a stop is seen however long a walk over the pages would be. The database
// is read as it stands at each call: renumbering it renumbers what the reader finds.
class TDatabaseReader : public ILongValueRows {
 public:
  TDatabaseReader(const IPageStore& store, const std::vector<TPageEntry>& entries,
                  const TDatabasePages& database, IRecoveryProgress& progress)
      : store_(store), entries_(entries), database_(database), progress_(progress) {}

  const TPage* PageByNumber(std::uint32_t number) const;

  // The page stays valid until the next few pages are read: callers that read long values
  // meanwhile keep a copy.
  const TPage* PageByIndex(std::size_t index) const;

  // Row `row` of the data page numbered `number`, which must be an LVAL page when
  // longValue is true and must not be one otherwise.
  std::optional<std::vector<std::uint8_t>> RowOf(std::uint32_t number, std::uint8_t row,
                                                 bool longValue) const;

  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t page,
                                               std::uint8_t row) const override {
    return RowOf(page, row, true);
  }

  // From now on a stop throws no more: pages are still given, rows no more, and StopSeen
  // tells the writer to end the table at the row it is on, keeping what it wrote whole.
  void QuietStops() { quietStops_ = true; }
  bool StopSeen() const { return stopSeen_; }

 private:
  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  const TDatabasePages& database_;
  IRecoveryProgress& progress_;
  bool quietStops_ = false;
  mutable bool stopSeen_ = false;
  mutable std::array<std::pair<std::size_t, TPage>, 8> cache_{{{SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}}}};
  mutable std::size_t next_ = 0;
};

}  // namespace quillon::recover
