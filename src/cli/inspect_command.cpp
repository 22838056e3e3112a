#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/error_display.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/platform_console.h"
#include "core/errors.h"
#include "core/fragment_file_reader.h"
#include "core/page_head.h"
#include "core/page_test.h"
#include "storage/file_system.h"
#include "storage/full_path.h"

namespace quillon {
namespace {

struct TPageLine {
  std::uint64_t Index;
  unsigned PageType;
  unsigned RowCount;
  bool LongValue;
  std::uint32_t OwnerPage;
  bool Candidate;
};

TPageLine DescribeFragment(std::uint64_t index, std::span<const std::uint8_t, kFragmentSize> page) {
  PageHead head;
  std::memcpy(&head, page.data(), sizeof head);
  return {index,         head.PageType,          head.RowCount, head.OwnerPage == kLvalOwner,
          head.OwnerPage, IsCandidatePage(head)};
}

std::string OwnerText(const TPageLine& line) {
  return line.LongValue ? "LVAL" : std::to_string(line.OwnerPage);
}

void PrintText(const std::string& path, const TFragmentFileReport& r,
               const std::vector<TPageLine>& pages, bool withPages) {
  ConsolePrintf(stdout, "File:           %s (%llu bytes)\n", path.c_str(),
                static_cast<unsigned long long>(r.FileLength));
  ConsolePrintf(stdout, "State:          %s%s%s\n", StateName(r.State),
                r.Problem.empty() ? "" : ": ", r.Problem.c_str());
  ConsolePrintf(stdout, "Source:         %s\n", r.SourcePath.c_str());
  ConsolePrintf(stdout, "Source length:  %lld bytes\n", static_cast<long long>(r.SourceLength));
  ConsolePrintf(stdout, "Fragments:      %llu (%llu bytes inflated",
                static_cast<unsigned long long>(r.Fragments),
                static_cast<unsigned long long>(r.Fragments * kFragmentSize));
  if (r.BodyEnded) {
    ConsolePrintf(stdout, ", body %llu bytes compressed, Adler-32 valid",
                  static_cast<unsigned long long>(r.BodyLength));
  }
  ConsolePrintf(stdout, ")\n");
  ConsolePrintf(stdout, "Trailer:        %s\n", r.TrailerValid ? "valid" : "missing or invalid");
  if (!withPages) return;
  ConsolePrintf(stdout, "\n%8s  %-10s  %5s  %s\n", "fragment", "page type", "rows", "owner");
  for (const TPageLine& p : pages) {
    char type[16];
    std::snprintf(type, sizeof type, p.PageType == 1 ? (p.LongValue ? "long value" : "data")
                                                     : "0x%02X", p.PageType);
    ConsolePrintf(stdout, "%8llu  %-10s  %5u  %s%s\n", static_cast<unsigned long long>(p.Index),
                  type, p.RowCount, OwnerText(p).c_str(),
                  p.Candidate ? "" : "  (not a candidate page)");
  }
}

void PrintJson(const std::string& path, const TFragmentFileReport& r,
               const std::vector<TPageLine>& pages, bool withPages) {
  TJson json;
  json["file"] = JsonSafeText(path);
  json["state"] = StateName(r.State);
  json["problem"] = JsonSafeText(r.Problem);
  json["source_path"] = JsonSafeText(r.SourcePath);
  json["source_length"] = r.SourceLength;
  json["file_length"] = r.FileLength;
  json["body_length"] = r.BodyLength;
  json["fragments"] = r.Fragments;
  json["body_complete"] = r.BodyEnded;
  json["trailer_valid"] = r.TrailerValid;
  if (withPages) {
    TJson items = TJson::array();
    for (const TPageLine& p : pages) {
      TJson page;
      page["index"] = p.Index;
      page["page_type"] = p.PageType;
      page["row_count"] = p.RowCount;
      if (p.LongValue) {
        page["owner"] = "LVAL";
      } else {
        page["owner"] = p.OwnerPage;
      }
      page["candidate"] = p.Candidate;
      items.push_back(std::move(page));
    }
    json["pages"] = std::move(items);
  }
  ConsolePrintf(stdout, "%s\n", JsonLine(json).c_str());
}

}  // namespace

int RunInspectCommand(const TInspectOptions& options) {
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  std::string systemPath;
  std::unique_ptr<TStream> file;
  try {
    systemPath = FullPath(SystemPathOf(*fileSystem, options.File));
    file = fileSystem->Open(systemPath, TOpenMode::ReadShared);
  } catch (const EQuillonError& error) {
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(error.what()).c_str());
    return kExitFailure;
  }
  std::vector<TPageLine> pages;
  TFragmentVisitor visitor;
  if (options.Pages) {
    visitor = [&pages](std::uint64_t index, std::span<const std::uint8_t, kFragmentSize> page) {
      pages.push_back(DescribeFragment(index, page));
    };
  }
  TFragmentFileReport report = ReadFragmentFile(*file, visitor);
  // Paths as a person reads them: the file's own, and the source path its header holds (in
  // the code page of the system that wrote it; shown as this system reads it).
  const std::string path = fileSystem->ToDisplayText(systemPath);
  report.SourcePath = fileSystem->ToDisplayText(report.SourcePath);
  if (options.Json) {
    PrintJson(path, report, pages, options.Pages);
  } else {
    PrintText(path, report, pages, options.Pages);
  }
  if (report.State != TFragmentFileState::Complete) {
    ConsolePrintf(stderr, "%s: %s fragment file: %s\n", path.c_str(), StateName(report.State),
                  report.Problem.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace quillon
