#include "rows/row_recovery.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "jet/row_layout.h"
#include "rows/catalog_objects.h"
#include "jet/text.h"

namespace quillon {
namespace {

constexpr int kMaxMatchRounds = 8;  // rounds after the first retry only what was not found

// What a table's rows of one column count show: whether they have a variable-length
// section at all. Rows of fixed-length columns only have no variable-column count and no
// offset table; read as if they had, their offsets seldom end exactly at the offset table,
// and they are all as long as each other.
struct TLayoutEvidence {
  std::uint64_t Rows = 0;
  std::uint64_t Exact = 0;  // read with a variable section whose end offset is exact
  std::size_t MinLength = SIZE_MAX;
  std::size_t MaxLength = 0;
  bool AllFixed() const { return Rows > 0 && Exact == 0 && MinLength == MaxLength; }
};

}  // namespace

TRowRecovery::TRowRecovery(const TPageCatalog& catalog, const TRowLimits& limits)
    : catalog_(catalog),
      limits_(limits),
      directory_(catalog, limits.LongValueRows),
      anchors_(catalog.PageCount()),
      overflows_(catalog, anchors_) {
  totals_.LongValuePages = catalog.LongValuePages().size();
  totals_.OtherFragments = catalog.IgnoredFragments();
  totals_.LongValueLimitReached = directory_.Full();
  for (const auto& [owner, pages] : catalog.Tables()) {
    totals_.DataPages += pages.size();
    ReadTable(owner, pages);
  }
  MatchPointers();
  CountTables();
  const std::map<std::uint32_t, std::string> names = ReadTableNames(catalog);
  for (TRecoveredTable& table : tables_) {
    const auto name = names.find(table.Owner);
    if (name != names.end()) table.Name = name->second;
  }
}

void TRowRecovery::ReadTable(std::uint32_t owner, const std::vector<TPageIndex>& pages) {
  TRecoveredTable table;
  table.Owner = owner;
  std::vector<TRecord> records;
  // First the layout of each column count's rows, from as many rows as will be read.
  std::map<std::uint16_t, TLayoutEvidence> evidence;
  std::uint64_t budget = limits_.Rows - std::min(limits_.Rows, rowsRecorded_);
  for (const TPageIndex page : pages) {
    if (budget < catalog_.SlotCount(page)) break;
    budget -= catalog_.SlotCount(page);
    const TPageBytes pageBytes = catalog_.Bytes(page);
    for (std::uint16_t slot = 0; slot < catalog_.SlotCount(page); ++slot) {
      const TRowSlot s = TPageCatalog::SlotIn(pageBytes, catalog_.SlotCount(page), slot);
      if (!s.Valid || (s.Flags & kRowOverflowFlag) != 0) continue;
      const auto bytes = pageBytes.subspan(s.Start, s.End - s.Start);
      if (bytes.size() < 2) continue;
      TLayoutEvidence& e = evidence[*jet::StatedColumnCount(bytes)];
      ++e.Rows;
      const auto layout = jet::ReadRowLayout(bytes, false);
      if (layout && layout->EndsAtOffsetTable()) ++e.Exact;
      e.MinLength = std::min(e.MinLength, bytes.size());
      e.MaxLength = std::max(e.MaxLength, bytes.size());
    }
  }
  for (const TPageIndex page : pages) {
    table.DataPages.push_back(catalog_.FragmentOf(page));
    if (totals_.RowLimitReached) continue;
    // Nothing below reads another page: the page's bytes stay where they are.
    const TPageBytes pageBytes = catalog_.Bytes(page);
    for (std::uint16_t slot = 0; slot < catalog_.SlotCount(page); ++slot) {
      const TRowSlot s = TPageCatalog::SlotIn(pageBytes, catalog_.SlotCount(page), slot);
      if (!s.Valid) {
        // A deleted row whose space was given back is no row at all; anything else is.
        if ((s.Flags & kRowDeletedFlag) == 0) ++table.SkippedRows;
        continue;
      }
      if (rowsRecorded_ >= limits_.Rows) {
        totals_.RowLimitReached = true;
        break;
      }
      const auto bytes = pageBytes.subspan(s.Start, s.End - s.Start);
      if (s.Flags == kRowOverflowFlag) {
        if (bytes.size() < 4) {
          ++table.SkippedRows;
          continue;
        }
        records.push_back({page, slot, TRecordKind::Moved, TRowState::Moved, false, false,
                           static_cast<std::uint32_t>(moves_.size())});
        moves_.push_back({owner, *jet::RowPointerAt(bytes, 0), {}, page, slot});
        ++rowsRecorded_;
        continue;
      }
      const auto found = evidence.find(jet::StatedColumnCount(bytes).value_or(0));
      const bool allFixed = found != evidence.end() && found->second.AllFixed();
      const auto layout = jet::ReadRowLayout(bytes, allFixed);
      if (!layout) {
        ++table.SkippedRows;
        continue;
      }
      // 0x8000 alone: the data of a moved row, live; 0xC000: deleted.
      const bool movedData = s.Flags == kRowDeletedFlag;
      const TRowState state =
          s.Flags == 0 || movedData ? TRowState::Live : TRowState::Deleted;
      records.push_back({page, slot, TRecordKind::Plain, state, allFixed, movedData, 0});
      ++rowsRecorded_;
      // Counted here, while the page is at hand: a spilled page read again later costs a
      // read of the temporary file.
      ++table.ColumnCounts[layout->ColumnCount()];
      table.MaxVarColumns = std::max(table.MaxVarColumns, layout->VarCount());
      if (movedData) overflows_.AddTarget(owner, page, slot);
      FindLongValueHeads(page, slot, *layout, state == TRowState::Live);
    }
  }
  tables_.push_back(std::move(table));
  records_.push_back(std::move(records));
}

void TRowRecovery::FindLongValueHeads(TPageIndex page, std::uint16_t slot,
                                      const jet::TRowLayout& layout, bool live) {
  for (std::uint16_t k = 0; k < layout.VarCount(); ++k) {
    const auto head = jet::ParseLongValueHead(layout.Var(k));
    if (!head || head->Kind == TLongValueKind::Inline) continue;
    if (longValues_.size() >= limits_.LongValueHeads) {
      totals_.LongValueLimitReached = true;
      return;
    }
    longValueAt_[ColumnKey(page, slot, k)] = static_cast<std::uint32_t>(longValues_.size());
    longValues_.push_back({{head->Kind, head->Length, head->Where},
                           static_cast<std::uint32_t>(tables_.size()), live, !head->UnusedZero,
                           {}});
  }
}

const TRowRecovery::TLongValueUse* TRowRecovery::LongValueAt(TPageIndex page,
                                                             std::uint16_t slot,
                                                             std::uint16_t column) const {
  const auto found = longValueAt_.find(ColumnKey(page, slot, column));
  if (found == longValueAt_.end()) return nullptr;
  const TLongValueUse& use = longValues_[found->second];
  if (use.Loose && use.Match.Status != TMatchStatus::Found) return nullptr;
  return &use;
}

// Live rows' pointers first, then deleted rows' (their LVAL rows may have been reused).
// Certain matches number pages, which settles more pointers in the next round; only when
// that stops do the numbered neighbours decide between rivals, and then certain rounds
// follow again. A later round retries what was not found as well: a page numbered wrongly
// (and so left out) may have been contested meanwhile. Moved rows' pointers are tied only
// when certain, in every round.
void TRowRecovery::MatchPointers() {
  TLongValueMatcher longValueMatcher(catalog_, directory_, anchors_);
  bool first = true;
  // Heads that agree on everything a match looks at (copies of a database hold many) are
  // matched once per pass: the answer is the same bytes. The groups of such heads are
  // found once; per pass each group remembers the head matched first.
  const auto refKey = [](const TLongValueRef& ref) {
    return (static_cast<std::uint64_t>(ref.Length) << 33) |
           (static_cast<std::uint64_t>(ref.Kind == TLongValueKind::Chain) << 32) |
           (static_cast<std::uint64_t>(ref.Where.Page) << 8) | ref.Where.Row;
  };
  std::vector<std::uint32_t> groupOf(longValues_.size());
  std::size_t groupCount = 0;
  {
    std::unordered_map<std::uint64_t, std::uint32_t> groups;
    groups.reserve(longValues_.size());
    for (std::uint32_t i = 0; i < longValues_.size(); ++i) {
      groupOf[i] = groups.emplace(refKey(longValues_[i].Ref), groups.size()).first->second;
    }
    groupCount = groups.size();
  }
  struct TGroupInPass {
    std::uint32_t Pass = 0;     // the pass the group was last matched in
    std::uint32_t Matched = 0;  // the head matched then
  };
  std::vector<TGroupInPass> groupInPass(groupCount);
  std::uint32_t passNumber = 0;
  const auto pass = [&](TMatchRule rule) {
    ++passNumber;
    for (const bool live : {true, false}) {
      for (std::uint32_t i = 0; i < longValues_.size(); ++i) {
        TLongValueUse& use = longValues_[i];
        if (use.Live != live || (!first && use.Match.Status == TMatchStatus::Found)) continue;
        TGroupInPass& group = groupInPass[groupOf[i]];
        if (group.Pass != passNumber) {
          group = {passNumber, i};
          use.Match = longValueMatcher.Match(use.Ref, rule);
        } else {
          use.Match = longValues_[group.Matched].Match;
        }
      }
    }
    for (TMove& move : moves_) {
      if (!first && move.Match.Status == TMatchStatus::Found) continue;
      move.Match = overflows_.Match(move.Owner, move.Where);
    }
    first = false;
  };
  const auto certainRounds = [&] {
    for (int round = 0; round < kMaxMatchRounds; ++round) {
      const std::uint64_t before = anchors_.Changes();
      pass(TMatchRule::Certain);
      if (anchors_.Changes() == before) break;
    }
  };
  certainRounds();
  for (int round = 0; round < kMaxMatchRounds; ++round) {
    const std::uint64_t before = anchors_.Changes();
    pass(TMatchRule::Neighbours);
    if (anchors_.Changes() == before) break;
    certainRounds();
  }
  // A tie made early may have been undone by a page contested later: ask once more.
  for (std::uint32_t m = 0; m < moves_.size(); ++m) {
    TMove& move = moves_[m];
    if (move.Match.Status == TMatchStatus::Found && move.Match.Tied) {
      const TOverflowMatch again = overflows_.Match(move.Owner, move.Where);
      if (!again.Tied || again.Page != move.Match.Page) move.Match = again;
    }
    if (move.Match.Status == TMatchStatus::Found && move.Match.Tied) {
      const auto [at, added] = tiedPointer_.emplace(RowKey(move.Match.Page, move.Match.Slot), m);
      // Two pointers tied to one row: neither is certain.
      if (!added) {
        for (TOverflowMatch* match : {&moves_[at->second].Match, &move.Match}) {
          match->Tied = false;
          match->Status = TMatchStatus::Ambiguous;
          match->Candidates = 2;
        }
      }
    }
  }
  for (auto it = tiedPointer_.begin(); it != tiedPointer_.end();) {
    it = moves_[it->second].Match.Tied ? std::next(it) : tiedPointer_.erase(it);
  }
}

void TRowRecovery::CountTables() {
  for (std::size_t t = 0; t < tables_.size(); ++t) {
    TRecoveredTable& table = tables_[t];
    for (const TRecord& record : records_[t]) {
      if (record.Kind == TRecordKind::Moved) {
        // Its data, if here, is a live row of its own.
        if (moves_[record.Move].Match.Status == TMatchStatus::Found) {
          ++totals_.MovedRowsFound;
        } else {
          ++table.MovedRowsNotFound;
        }
        continue;
      }
      ++(record.State == TRowState::Live ? table.LiveRows : table.DeletedRows);
    }
  }
  // Each head belongs to one column of one recorded row; a loose head counts only when found,
  // as it is shown only then.
  for (const TLongValueUse& use : longValues_) {
    if (use.Loose && use.Match.Status != TMatchStatus::Found) continue;
    TRecoveredTable& table = tables_[use.Table];
    switch (use.Match.Status) {
      case TMatchStatus::Found: ++table.LongValuesFound; break;
      case TMatchStatus::NotFound: ++table.LongValuesNotFound; break;
      case TMatchStatus::Ambiguous: ++table.LongValuesAmbiguous; break;
    }
  }
  for (const TRecoveredTable& table : tables_) {
    totals_.LiveRows += table.LiveRows;
    totals_.DeletedRows += table.DeletedRows;
    totals_.MovedRowsNotFound += table.MovedRowsNotFound;
    totals_.SkippedRows += table.SkippedRows;
    totals_.LongValuesFound += table.LongValuesFound;
    totals_.LongValuesNotFound += table.LongValuesNotFound;
    totals_.LongValuesAmbiguous += table.LongValuesAmbiguous;
  }
}

void TRowRecovery::FillValue(TPageIndex page, std::uint16_t slot, std::uint16_t column,
                             std::span<const std::uint8_t> bytes, TRecoveredValue& value) const {
  value.Kind = TValueKind::Empty;
  value.Text.clear();
  value.Status = TMatchStatus::Found;
  value.LongIsText = false;
  value.Candidates = 0;
  if (bytes.empty()) return;
  const auto head = jet::ParseLongValueHead(bytes);
  const TLongValueUse* use =
      head && head->Kind != TLongValueKind::Inline ? LongValueAt(page, slot, column) : nullptr;
  if (head && (head->Kind == TLongValueKind::Inline || use != nullptr)) {
    value.Kind = TValueKind::LongValue;
    value.LongKind = head->Kind;
    value.Length = head->Length;
    value.Where = head->Where;
    std::vector<std::uint8_t> data;
    if (head->Kind == TLongValueKind::Inline) {
      data.assign(head->InlineData.begin(), head->InlineData.end());
    } else {
      value.Status = use->Match.Status;
      value.Candidates = use->Match.Candidates;
      if (use->Match.Status != TMatchStatus::Found) return;
      data = AssembleLongValue(catalog_, use->Match.Parts);
    }
    if (auto text = jet::DecodeJetText(data, jet::TTextPolicy::TextOnly)) {
      value.LongIsText = true;
      value.Text = std::move(*text);
    } else {
      value.Text = jet::HexText(data);
    }
    return;
  }
  if (auto text = jet::DecodeJetText(bytes, jet::TTextPolicy::TextOnly)) {
    value.Kind = TValueKind::Text;
    value.Text = std::move(*text);
  } else {
    value.Kind = TValueKind::Hex;
    value.Text = jet::HexText(bytes);
  }
}

void TRowRecovery::FillRow(const TRecord& record, TRecoveredRow& row,
                           std::vector<std::uint8_t>& bytes) const {
  row.Fragment = catalog_.FragmentOf(record.Page);
  row.Row = record.Slot;
  row.State = record.State;
  row.Moved = record.Kind == TRecordKind::Moved;
  row.MovedData = record.MovedData;
  row.PointerKnown = false;
  row.HasData = !row.Moved;
  row.ColumnCount = 0;
  row.Fixed.clear();
  if (row.Moved) {
    const TMove& move = moves_[record.Move];
    row.MovedTo = move.Where;
    row.MoveStatus = move.Match.Status;
    row.MoveCandidates = move.Match.Candidates;
    row.Values.clear();
    return;
  }
  if (record.MovedData) {
    const auto tied = tiedPointer_.find(RowKey(record.Page, record.Slot));
    if (tied != tiedPointer_.end()) {
      const TMove& move = moves_[tied->second];
      row.PointerKnown = true;
      row.PointerFragment = catalog_.FragmentOf(move.Page);
      row.PointerRow = move.Slot;
    }
  }
  // A copy: reading long values may read other pages, which a spilled catalog need not
  // keep at hand meanwhile.
  const auto stored = catalog_.RowBytes(record.Page, record.Slot);
  bytes.assign(stored.begin(), stored.end());
  const auto layout = jet::ReadRowLayout(bytes, record.AllFixed);
  row.ColumnCount = layout->ColumnCount();
  row.Fixed.assign(layout->Fixed().begin(), layout->Fixed().end());
  row.Values.resize(layout->VarCount());
  for (std::uint16_t k = 0; k < layout->VarCount(); ++k) {
    FillValue(record.Page, record.Slot, k, layout->Var(k), row.Values[k]);
  }
}

void TRowRecovery::ForEachRowWhile(std::size_t table,
                                   const std::function<bool(const TRecoveredRow&)>& visit) const {
  TRecoveredRow row;
  std::vector<std::uint8_t> bytes;
  for (const TRecord& record : records_[table]) {
    // A pointer whose data is shown needs no line of its own.
    if (record.Kind == TRecordKind::Moved &&
        moves_[record.Move].Match.Status == TMatchStatus::Found) {
      continue;
    }
    FillRow(record, row, bytes);
    if (!visit(row)) return;
  }
}

void TRowRecovery::ForEachRow(std::size_t table,
                              const std::function<void(const TRecoveredRow&)>& visit) const {
  ForEachRowWhile(table, [&](const TRecoveredRow& row) {
    visit(row);
    return true;
  });
}

}  // namespace quillon
