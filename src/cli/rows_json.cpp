#include <string>

#include "cli/json_output.h"
#include "cli/platform_console.h"
#include "cli/rows_output.h"
#include "jet/text.h"

namespace quillon {
namespace {

const char* StorageKey(TLongValueKind kind) {
  switch (kind) {
    case TLongValueKind::Inline: return "inline";
    case TLongValueKind::SingleRow: return "single_row";
    case TLongValueKind::Chain: return "chain";
  }
  return "inline";
}

TJson ValueJson(const TRecoveredValue& value) {
  TJson json;
  switch (value.Kind) {
    case TValueKind::Empty: json["kind"] = "empty"; break;
    case TValueKind::Text:
      json["kind"] = "text";
      json["text"] = value.Text;
      break;
    case TValueKind::Hex:
      json["kind"] = "hex";
      json["hex"] = value.Text;
      break;
    case TValueKind::LongValue:
      json["kind"] = "long_value";
      json["storage"] = StorageKey(value.LongKind);
      json["length"] = value.Length;
      if (value.LongKind != TLongValueKind::Inline) {
        json["page"] = value.Where.Page;
        json["row"] = value.Where.Row;
      }
      json["status"] = MatchStatusName(value.Status);
      if (value.Status == TMatchStatus::Ambiguous) json["candidates"] = value.Candidates;
      if (value.Status == TMatchStatus::Found) json[value.LongIsText ? "text" : "hex"] = value.Text;
      break;
  }
  return json;
}

TJson RowJson(const TRecoveredRow& row) {
  TJson json;
  json["fragment"] = row.Fragment;
  json["row"] = row.Row;
  json["state"] = RowStateName(row.State);
  if (row.Moved) {
    TJson moved;
    moved["page"] = row.MovedTo.Page;
    moved["row"] = row.MovedTo.Row;
    moved["status"] = MatchStatusName(row.MoveStatus);
    if (row.MoveStatus == TMatchStatus::Ambiguous) moved["candidates"] = row.MoveCandidates;
    json["moved"] = std::move(moved);
  }
  if (row.MovedData) {
    TJson from;
    if (row.PointerKnown) {
      from["fragment"] = row.PointerFragment;
      from["row"] = row.PointerRow;
    }
    json["moved_from"] = std::move(from);  // null: the pointer is not known for certain
  }
  if (row.HasData) {
    json["columns"] = row.ColumnCount;
    json["fixed"] = jet::HexText(row.Fixed);
    TJson values = TJson::array();
    for (const TRecoveredValue& value : row.Values) values.push_back(ValueJson(value));
    json["values"] = std::move(values);
  }
  const std::string notes = RowNotes(row);
  if (!notes.empty()) json["notes"] = notes;
  return json;
}

TJson TableJson(const TRecoveredTable& table) {
  TJson json;
  json["owner"] = table.Owner;
  json["name"] = table.Name.empty() ? TJson() : TJson(JsonSafeText(table.Name));
  json["data_pages"] = table.DataPages;
  json["live_rows"] = table.LiveRows;
  json["deleted_rows"] = table.DeletedRows;
  json["moved_rows_not_found"] = table.MovedRowsNotFound;
  json["skipped_rows"] = table.SkippedRows;
  TJson counts = TJson::object();
  for (const auto& [columns, rows] : table.ColumnCounts) counts[std::to_string(columns)] = rows;
  json["column_counts"] = std::move(counts);
  json["long_values"] = {{"found", table.LongValuesFound},
                         {"not_found", table.LongValuesNotFound},
                         {"ambiguous", table.LongValuesAmbiguous}};
  return json;
}

TJson TotalsJson(const TRecoveryTotals& totals) {
  return {{"data_pages", totals.DataPages},
          {"lval_pages", totals.LongValuePages},
          {"other_fragments", totals.OtherFragments},
          {"live_rows", totals.LiveRows},
          {"deleted_rows", totals.DeletedRows},
          {"moved_rows_found", totals.MovedRowsFound},
          {"moved_rows_not_found", totals.MovedRowsNotFound},
          {"skipped_rows", totals.SkippedRows},
          {"long_values_found", totals.LongValuesFound},
          {"long_values_not_found", totals.LongValuesNotFound},
          {"long_values_ambiguous", totals.LongValuesAmbiguous},
          {"row_limit_reached", totals.RowLimitReached},
          {"long_value_limit_reached", totals.LongValueLimitReached}};
}

// The dump of an object without its closing brace, so that one more member can follow.
std::string OpenObject(const TJson& json) {
  std::string text = JsonLine(json);
  text.pop_back();
  return text;
}

}  // namespace

// The document can be far larger than memory should hold as one tree (a table of millions
// of rows): every piece is built and dumped by the JSON library, the "tables" and "rows"
// arrays are streamed one element at a time.
void PrintRowsJson(std::FILE* out, const std::string& path, const TFragmentFileReport& report,
                   const TRowRecovery& recovery) {
  TJson head;
  head["file"] = JsonSafeText(path);
  head["state"] = StateName(report.State);
  head["problem"] = JsonSafeText(report.Problem);
  head["fragments"] = report.Fragments;
  head["totals"] = TotalsJson(recovery.Totals());
  WriteText(out, OpenObject(head) + ",\"tables\":[");
  const auto& tables = recovery.Tables();
  for (std::size_t t = 0; t < tables.size(); ++t) {
    WriteText(out, (t ? "," : "") + OpenObject(TableJson(tables[t])) + ",\"rows\":[");
    bool first = true;
    recovery.ForEachRow(t, [&](const TRecoveredRow& row) {
      if (!first) WriteText(out, ",");
      first = false;
      WriteText(out, JsonLine(RowJson(row)));
    });
    WriteText(out, "]}");
  }
  WriteText(out, "]}\n");
}

}  // namespace quillon
