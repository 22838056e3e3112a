#pragma once
// OUTDIR/report.html: what a recovery gave, as one page that any browser opens offline.
// Per database where its pages lay and when its tables last changed; per table its columns
// and counts, and its first rows in a view that scrolls and searches. The rows are read
// back from the CSV files just written, one at a time, so memory stays bounded whatever
// the size of a table; values keep the text the CSV has (currency, decimals and dates as
// the person entered them, never through a browser's numbers).

#include <cstdint>
#include <string>
#include <string_view>

#include "core/stream.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"

namespace quillon::recover {

inline constexpr const char* kReportHtmlName = "report.html";

struct TReportHtmlOptions {
  std::string OutputDir;   // UTF-8 display path of OUTDIR, as TRecoveryOptions has it
  char Separator = '/';    // as TRecoveryOptions has it
  std::string Source;      // UTF-8 display text of what was read, shown at the top
  std::size_t RowsPerTable = 5000;  // rows embedded per table; the rest stay in CSV and SQLite
  std::size_t CellBytes = 2000;     // a longer value is cut (at a character) and marked "…"
};

// Writes OUTDIR/report.html through fileSystem: first as report.html.partial, moved into
// place once complete, so that no half-written report ever carries the final name. Returns
// the display path of the report. Throws EQuillonError naming the file and the cause.
std::string WriteReportHtml(const TRecoveryReport& report, IFileSystem& fileSystem,
                            const TReportHtmlOptions& options, IRecoveryProgress& progress);

// Text from the disk made safe for the page. Both turn invalid UTF-8 and NUL into U+FFFD.
// HtmlText: for element content and attribute values (& < > " ' escaped).
std::string HtmlText(std::string_view text);
// JsonText: a JSON string literal that may stand inside <script>: '<', '>', '&', U+2028,
// U+2029 and control characters are written as \u escapes, so that nothing in it can end
// the script element or the string.
std::string JsonText(std::string_view text);
// text repaired as core/utf8_text.h says (each bad byte U+FFFD), and NUL as U+FFFD too.
std::string ValidUtf8(std::string_view text);

}  // namespace quillon::recover
