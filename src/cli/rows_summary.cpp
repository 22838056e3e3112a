#include <string>
#include <vector>

#include "cli/platform_console.h"
#include "cli/rows_output.h"

namespace quillon {
namespace {

constexpr std::size_t kSampleValues = 5;
constexpr std::size_t kSampleCharacters = 40;

// At most `limit` characters of UTF-8 text, with "..." when cut; line breaks as spaces.
std::string Shortened(const std::string& text, std::size_t limit) {
  std::string out;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80 && characters++ == limit) return out + "...";
    out += (c == '\r' || c == '\n' || c == '\t') ? ' ' : static_cast<char>(c);
  }
  return out;
}

std::size_t CharacterCount(const std::string& text) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return characters;
}

// The first few different texts of a table's live rows.
std::vector<std::string> SampleTexts(const TRowRecovery& recovery, std::size_t table) {
  std::vector<std::string> samples;
  recovery.ForEachRowWhile(table, [&](const TRecoveredRow& row) {
    if (row.State != TRowState::Live) return true;
    for (const TRecoveredValue& value : row.Values) {
      const bool text = value.Kind == TValueKind::Text ||
                        (value.Kind == TValueKind::LongValue && value.LongIsText &&
                         value.Status == TMatchStatus::Found);
      // One character says little: it is as often two bytes of something else.
      if (!text || CharacterCount(value.Text) < 2 || samples.size() == kSampleValues) continue;
      const std::string sample = Shortened(value.Text, kSampleCharacters);
      bool seen = false;
      for (const std::string& s : samples) seen = seen || s == sample;
      if (!seen) samples.push_back(sample);
    }
    return samples.size() < kSampleValues;
  });
  return samples;
}

std::string ColumnCountsText(const TRecoveredTable& table) {
  std::string text;
  for (const auto& [columns, rows] : table.ColumnCounts) {
    text += (text.empty() ? "" : ", ") + std::to_string(columns) + " columns (" +
            std::to_string(rows) + (rows == 1 ? " row)" : " rows)");
  }
  return text.empty() ? "none" : text;
}

std::string LongValuesText(std::uint64_t found, std::uint64_t notFound, std::uint64_t ambiguous) {
  return std::to_string(found) + " found, " + std::to_string(notFound) + " not in the file, " +
         std::to_string(ambiguous) + " ambiguous";
}

}  // namespace

void PrintRowsSummary(std::FILE* out, const std::string& path, const TFragmentFileReport& report,
                      const TRowRecovery& recovery) {
  const TRecoveryTotals& totals = recovery.Totals();
  const auto plural = [](std::uint64_t n) { return n == 1 ? "" : "s"; };
  ConsolePrintf(out, "File:    %s (%s, %llu fragment%s)\n", path.c_str(), StateName(report.State),
               static_cast<unsigned long long>(report.Fragments), plural(report.Fragments));
  ConsolePrintf(out, "Pages:   %llu data page%s of %zu table%s, %llu LVAL page%s\n",
               static_cast<unsigned long long>(totals.DataPages), plural(totals.DataPages),
               recovery.Tables().size(), plural(recovery.Tables().size()),
               static_cast<unsigned long long>(totals.LongValuePages),
               plural(totals.LongValuePages));
  std::size_t unreadable = 0;
  const auto& tables = recovery.Tables();
  for (std::size_t t = 0; t < tables.size(); ++t) {
    const TRecoveredTable& table = tables[t];
    if (table.LiveRows + table.DeletedRows + table.MovedRowsNotFound == 0) {
      ++unreadable;
      continue;
    }
    ConsolePrintf(out, "\n%s: %zu data page%s\n",
                 table.Name.empty() ? ("Table of owner page " + std::to_string(table.Owner)).c_str()
                                    : TableTitle(table).c_str(),
                 table.DataPages.size(), table.DataPages.size() == 1 ? "" : "s");
    ConsolePrintf(out, "  rows:      %llu live, %llu deleted",
                 static_cast<unsigned long long>(table.LiveRows),
                 static_cast<unsigned long long>(table.DeletedRows));
    if (table.MovedRowsNotFound > 0) {
      ConsolePrintf(out, ", %llu moved (pointers not tied to their data for certain)",
                   static_cast<unsigned long long>(table.MovedRowsNotFound));
    }
    if (table.SkippedRows > 0) {
      ConsolePrintf(out, ", %llu skipped (not readable as rows)",
                    static_cast<unsigned long long>(table.SkippedRows));
    }
    ConsolePrintf(out, "\n  columns:   %s\n", ColumnCountsText(table).c_str());
    if (table.LongValuesFound + table.LongValuesNotFound + table.LongValuesAmbiguous > 0) {
      ConsolePrintf(
          out, "  memo/OLE:  %s\n",
          LongValuesText(table.LongValuesFound, table.LongValuesNotFound, table.LongValuesAmbiguous)
              .c_str());
    }
    const std::vector<std::string> samples = SampleTexts(recovery, t);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      ConsolePrintf(out, "  %s \"%s\"\n", i == 0 ? "text:     " : "          ", samples[i].c_str());
    }
  }
  if (unreadable > 0) {
    ConsolePrintf(out, "\n%zu more owner value%s with pages but no readable rows\n", unreadable,
                  unreadable == 1 ? "" : "s");
  }
  ConsolePrintf(out, "\nTotal:   %llu live rows, %llu deleted rows",
                static_cast<unsigned long long>(totals.LiveRows),
                static_cast<unsigned long long>(totals.DeletedRows));
  if (totals.MovedRowsFound > 0) {
    ConsolePrintf(out, " (%llu moved rows followed)",
                  static_cast<unsigned long long>(totals.MovedRowsFound));
  }
  ConsolePrintf(out, ", %llu rows skipped\n", static_cast<unsigned long long>(totals.SkippedRows));
  if (totals.MovedRowsNotFound > 0) {
    ConsolePrintf(out,
                 "         %llu moved rows whose pointer is not tied to its data for certain\n",
                 static_cast<unsigned long long>(totals.MovedRowsNotFound));
  }
  ConsolePrintf(
      out, "         memo/OLE values in LVAL pages: %s\n",
      LongValuesText(totals.LongValuesFound, totals.LongValuesNotFound, totals.LongValuesAmbiguous)
          .c_str());
}

}  // namespace quillon
