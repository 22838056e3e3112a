#include "rows/row_recovery.h"

#include "rows/byte_reading.h"
#include "rows/jet_text.h"
#include "rows/row_layout.h"

namespace quillon {
namespace {

constexpr int kMaxMatchRounds = 8;  // rounds after the first retry only what was not found

}  // namespace

TRowRecovery::TRowRecovery(const TPageCatalog& catalog)
    : catalog_(catalog),
      directory_(catalog),
      anchors_(catalog.PageCount()),
      overflows_(catalog, anchors_) {
  totals_.LongValuePages = catalog.LongValuePages().size();
  totals_.OtherFragments = catalog.IgnoredFragments();
  for (const auto& [owner, pages] : catalog.Tables()) {
    totals_.DataPages += pages.size();
    ReadTable(owner, pages);
  }
  MatchPointers();
  CountTables();
}

void TRowRecovery::ReadTable(std::uint32_t owner, const std::vector<TPageIndex>& pages) {
  TRecoveredTable table;
  table.Owner = owner;
  std::vector<TRecord> records;
  for (const TPageIndex page : pages) {
    table.DataPages.push_back(catalog_.FragmentOf(page));
    for (std::uint16_t slot = 0; slot < catalog_.SlotCount(page); ++slot) {
      const TRowSlot s = catalog_.Slot(page, slot);
      const auto bytes = catalog_.RowBytes(page, slot);
      if (!s.Valid) {
        ++table.SkippedRows;
        continue;
      }
      if (s.Flags == kRowOverflowFlag) {
        if (bytes.size() < 4) {
          ++table.SkippedRows;
          continue;
        }
        records.push_back({page, slot, TRecordKind::Moved, TRowState::Live,
                           static_cast<std::uint32_t>(moves_.size())});
        moves_.push_back({owner, RowPointerFrom(LoadU32(bytes, 0)), {}});
        continue;
      }
      const auto layout = DecodeRowLayout(bytes);
      if (!layout) {
        ++table.SkippedRows;
        continue;
      }
      const TRowState state = (s.Flags & kRowDeletedFlag) ? TRowState::Deleted : TRowState::Live;
      records.push_back({page, slot, TRecordKind::Plain, state, 0});
      if (s.Flags == kRowDeletedFlag) overflows_.AddTarget(owner, page, slot);
      FindLongValueHeads(page, slot, *layout, state == TRowState::Live);
    }
  }
  tables_.push_back(std::move(table));
  records_.push_back(std::move(records));
}

void TRowRecovery::FindLongValueHeads(TPageIndex page, std::uint16_t slot,
                                      const TRowLayout& layout, bool live) {
  for (std::uint16_t k = 0; k < layout.VarCount(); ++k) {
    const auto head = ParseLongValueHead(layout.Var(k));
    if (!head || head->Kind == TLongValueKind::Inline) continue;
    longValueAt_[ColumnKey(page, slot, k)] = static_cast<std::uint32_t>(longValues_.size());
    longValues_.push_back({{head->Kind, head->Length, head->Where}, live, {}});
  }
}

// Live rows' pointers first, then deleted rows' (their LVAL rows may have been reused).
// Certain matches number pages, which settles more pointers in the next round; only when
// that stops do the numbered neighbours decide between rivals, and then certain rounds
// follow again. A later round retries what was not found as well: a page numbered wrongly
// (and so left out) may have been contested meanwhile.
void TRowRecovery::MatchPointers() {
  TLongValueMatcher longValueMatcher(catalog_, directory_, anchors_);
  bool first = true;
  const auto pass = [&](TMatchRule rule) {
    for (const bool live : {true, false}) {
      for (TLongValueUse& use : longValues_) {
        if (use.Live != live || (!first && use.Match.Status == TMatchStatus::Found)) continue;
        use.Match = longValueMatcher.Match(use.Ref, rule);
      }
    }
    for (TMove& move : moves_) {
      if (!first && move.Match.Status == TMatchStatus::Found) continue;
      move.Match = overflows_.Match(move.Owner, move.Where, rule);
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
  for (const TMove& move : moves_) {
    if (move.Match.Status == TMatchStatus::Found) {
      movedHere_.insert(RowKey(move.Match.Page, move.Match.Slot));
    }
  }
}

void TRowRecovery::CountTables() {
  for (std::size_t t = 0; t < tables_.size(); ++t) {
    TRecoveredTable& table = tables_[t];
    for (const TRecord& record : records_[t]) {
      TPageIndex page = record.Page;
      std::uint16_t slot = record.Slot;
      if (record.Kind == TRecordKind::Moved) {
        const TOverflowMatch& match = moves_[record.Move].Match;
        if (match.Status != TMatchStatus::Found) {
          ++table.MovedRowsNotFound;
          continue;
        }
        ++totals_.MovedRowsFound;
        page = match.Page;
        slot = match.Slot;
      } else if (movedHere_.count(RowKey(page, slot)) != 0) {
        continue;  // shown through the pointer that moved it
      }
      ++(record.State == TRowState::Live ? table.LiveRows : table.DeletedRows);
      const auto layout = DecodeRowLayout(catalog_.RowBytes(page, slot));
      ++table.ColumnCounts[layout->ColumnCount()];
      table.MaxVarColumns = std::max(table.MaxVarColumns, layout->VarCount());
      for (std::uint16_t k = 0; k < layout->VarCount(); ++k) {
        const auto use = longValueAt_.find(ColumnKey(page, slot, k));
        if (use == longValueAt_.end()) continue;
        switch (longValues_[use->second].Match.Status) {
          case TMatchStatus::Found: ++table.LongValuesFound; break;
          case TMatchStatus::NotFound: ++table.LongValuesNotFound; break;
          case TMatchStatus::Ambiguous: ++table.LongValuesAmbiguous; break;
        }
      }
    }
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
  const auto head = ParseLongValueHead(bytes);
  const bool pointing = head && head->Kind != TLongValueKind::Inline;
  const auto use =
      pointing ? longValueAt_.find(ColumnKey(page, slot, column)) : longValueAt_.end();
  if (head && (head->Kind == TLongValueKind::Inline || use != longValueAt_.end())) {
    value.Kind = TValueKind::LongValue;
    value.LongKind = head->Kind;
    value.Length = head->Length;
    value.Where = head->Where;
    std::vector<std::uint8_t> data;
    if (head->Kind == TLongValueKind::Inline) {
      data.assign(head->InlineData.begin(), head->InlineData.end());
    } else {
      const TLongValueMatch& match = longValues_[use->second].Match;
      value.Status = match.Status;
      value.Candidates = match.Candidates;
      if (match.Status != TMatchStatus::Found) return;
      data = AssembleLongValue(catalog_, match.Parts);
    }
    if (auto text = DecodeJetText(data)) {
      value.LongIsText = true;
      value.Text = std::move(*text);
    } else {
      value.Text = HexText(data);
    }
    return;
  }
  if (auto text = DecodeJetText(bytes)) {
    value.Kind = TValueKind::Text;
    value.Text = std::move(*text);
  } else {
    value.Kind = TValueKind::Hex;
    value.Text = HexText(bytes);
  }
}

void TRowRecovery::FillRow(const TRecord& record, TRecoveredRow& row) const {
  row.Fragment = catalog_.FragmentOf(record.Page);
  row.Row = record.Slot;
  row.State = record.State;
  row.Moved = record.Kind == TRecordKind::Moved;
  row.HasData = true;
  TPageIndex page = record.Page;
  std::uint16_t slot = record.Slot;
  if (row.Moved) {
    const TMove& move = moves_[record.Move];
    row.MovedTo = move.Where;
    row.MoveStatus = move.Match.Status;
    row.MoveCandidates = move.Match.Candidates;
    row.HasData = move.Match.Status == TMatchStatus::Found;
    page = move.Match.Page;
    slot = move.Match.Slot;
  }
  row.DataFragment = catalog_.FragmentOf(page);
  row.DataRow = slot;
  row.ColumnCount = 0;
  row.Fixed.clear();
  if (!row.HasData) {
    row.Values.clear();
    return;
  }
  const auto layout = DecodeRowLayout(catalog_.RowBytes(page, slot));
  row.ColumnCount = layout->ColumnCount();
  row.Fixed.assign(layout->Fixed().begin(), layout->Fixed().end());
  row.Values.resize(layout->VarCount());
  for (std::uint16_t k = 0; k < layout->VarCount(); ++k) {
    FillValue(page, slot, k, layout->Var(k), row.Values[k]);
  }
}

void TRowRecovery::ForEachRowWhile(std::size_t table,
                                   const std::function<bool(const TRecoveredRow&)>& visit) const {
  TRecoveredRow row;
  for (const TRecord& record : records_[table]) {
    if (record.Kind == TRecordKind::Plain && movedHere_.count(RowKey(record.Page, record.Slot))) {
      continue;
    }
    FillRow(record, row);
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
