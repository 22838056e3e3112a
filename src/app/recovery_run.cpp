#include "app/recovery_run.h"

#include <algorithm>

#include "core/errors.h"

namespace quillon {

using recover::TFragmentPageStore;
using recover::TPageMapScanEnd;

TRecoveryReading::TRecoveryReading(TMain& main, TRecoverOutputs& outputs)
    : main_(main),
      outputs_(outputs),
      shownMap_(outputs.ToDisplayText(outputs.PathOf(kRecoverPageMapFileName))) {
  map_.emplace(outputs.Create(kRecoverPageMapFileName), shownMap_);
  map_->WriteHeader();
  main.SetFragmentObserver([this](std::int64_t, std::int64_t offset,
                                  std::span<const std::uint8_t, kFragmentSize> page) {
    map_->AddFragment(offset, page);
  });
  main.SetOtherPageObserver(
      [this](std::int64_t offset, std::span<const std::uint8_t, kFragmentSize> page) {
        map_->OfferPage(offset, page);
      });
}

TRecoveryReading::~TRecoveryReading() {
  main_.SetFragmentObserver({});
  main_.SetOtherPageObserver({});
}

TPageMapScanEnd TRecoveryReading::MapEndOf(TScanEnd end) {
  return end == TScanEnd::Completed ? TPageMapScanEnd::Completed
         : end == TScanEnd::Stopped ? TPageMapScanEnd::Stopped
                                    : TPageMapScanEnd::Failed;
}

void TRecoveryReading::Finish(const TScanReport& scan) {
  map_->Finish(scan.BytesScanned, MapEndOf(scan.End));
}

std::unique_ptr<TFragmentPageStore> OpenFragmentStore(
    IFileSystem& fileSystem, const std::string& fragmentPath,
    const std::function<void(std::int64_t done, std::int64_t total)>& reading) {
  const auto shown = [&](const std::string& path) { return fileSystem.ToDisplayText(path); };
  const std::string mapPath = recover::PageMapPathFor(fragmentPath);
  std::unique_ptr<TStream> map;
  if (fileSystem.Facts(mapPath).Kind != TPathKind::Missing) {
    map = fileSystem.Open(mapPath, TOpenMode::ReadShared);
  }
  const std::int64_t length = fileSystem.Open(fragmentPath, TOpenMode::ReadShared)->Length();
  return std::make_unique<TFragmentPageStore>(
      fileSystem.Open(fragmentPath, TOpenMode::ReadShared), shown(fragmentPath),
      std::move(map), shown(mapPath), [&reading, length](std::uint64_t done) {
        if (reading) {
          reading(static_cast<std::int64_t>(done), std::max<std::int64_t>(length, 1) * 2);
        }
      });
}

recover::TRecoveryReport DecodeFragments(const TFragmentPageStore& store,
                                         TRecoverOutputs& outputs,
                                         recover::IRecoveryProgress& progress) {
  recover::TRecoveryOptions options;
  options.OutputDir = outputs.ToDisplayText(outputs.Dir());
  const recover::TRecoveryReport report =
      recover::RecoverDatabases(store, outputs, options, progress);
  WriteRecoveryReportPage(report, outputs);
  return report;
}

namespace {

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

// A plain summary page until the full report (tables, rows, search) takes its place here.
void WriteRecoveryReportPage(const recover::TRecoveryReport& report, TRecoverOutputs& outputs) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<title>Quillon recovery report</title></head><body>\n";
  for (const recover::TDatabaseReport& database : report.Databases) {
    page += "<h2>database-" + std::to_string(database.Number) + "</h2>\n<ul>\n";
    for (const recover::TTableReport& table : database.Tables) {
      page += "<li>" + HtmlEscaped(table.Name) + ": " + std::to_string(table.Rows) +
              " rows</li>\n";
    }
    page += "</ul>\n";
  }
  page += "</body></html>\n";
  const std::string path = outputs.PathOf(kRecoverReportFileName);
  const std::unique_ptr<TStream> file = outputs.Create(kRecoverReportFileName);
  if (file->Write(page.data(), page.size()) != page.size() || !file->Flush()) {
    throw EQuillonError("Cannot write \"" + outputs.ToDisplayText(path) + "\": " +
                        file->LastErrorText());
  }
}

}  // namespace quillon
