#include "app/recovery_run.h"

#include "recover/page_cache.h"
#include "recover/report_html.h"

#include <algorithm>

#include "core/errors.h"

namespace quillon {

using recover::TFragmentPageStore;
using recover::TPageMapScanEnd;

TRecoveryReading::TRecoveryReading(TMain& main, TRecoverOutputs& outputs,
                                   const TPageMapContinuation* from)
    : main_(main),
      outputs_(outputs),
      shownMap_(outputs.ToDisplayText(outputs.PathOf(kRecoverPageMapFileName))) {
  if (from != nullptr) {
    const std::unique_ptr<TStream> earlier =
        outputs.Open(from->EarlierPath, TOpenMode::ReadShared);
    map_.emplace(outputs.Create(kRecoverPageMapFileName), shownMap_);
    map_->ContinueFrom(*earlier, from->Point, outputs.ToDisplayText(from->EarlierPath));
    // Once the copy is on the disk the earlier map has done its part. It goes before the
    // first new restart point: past its point it holds what the earlier run wrote (a closing
    // record, or records cut at other points), so it would not agree with the new map there.
    map_->TakeRestartPoint(from->Point.SourceOffset);
    if (!outputs.Remove(from->EarlierPath)) {
      throw EQuillonError("Cannot remove \"" + outputs.ToDisplayText(from->EarlierPath) +
                          "\", the page map copied into \"" + shownMap_ + "\".");
    }
  } else {
    map_.emplace(outputs.Create(kRecoverPageMapFileName), shownMap_);
    map_->WriteHeader();
  }
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

TDecodeResult DecodeFragments(const TFragmentPageStore& store, TRecoverOutputs& outputs,
                              const std::string& source, recover::IRecoveryProgress& progress) {
  recover::TRecoveryOptions options;
  options.OutputDir = outputs.ToDisplayText(outputs.Dir());
  options.Separator = outputs.Separator();
  // The outputs are real files, which the workbook library can open by name.
  options.WriteXlsx = true;
  TDecodeResult result;
  // Recovery reads pages in no order and often again; each of a fragment file's costs an
  // inflate from the nearest point before it, so the pages read are kept for a while.
  const recover::TPageCache pages(store);
  result.Report = recover::RecoverDatabases(pages, outputs, options, progress);
  try {
    result.ReportPath = recover::WriteReportHtml(
        result.Report, outputs, {.OutputDir = options.OutputDir, .Separator = options.Separator, .Source = source}, progress);
  } catch (const EQuillonError& error) {
    result.ReportError = error.what();
  }
  return result;
}

}  // namespace quillon
