#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/error_display.h"
#include "cli/commands.h"
#include "cli/json_text.h"
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
  std::printf("File:           %s (%llu bytes)\n", path.c_str(),
              static_cast<unsigned long long>(r.FileLength));
  std::printf("State:          %s%s%s\n", StateName(r.State), r.Problem.empty() ? "" : ": ",
              r.Problem.c_str());
  std::printf("Source:         %s\n", r.SourcePath.c_str());
  std::printf("Source length:  %lld bytes\n", static_cast<long long>(r.SourceLength));
  std::printf("Fragments:      %llu (%llu bytes inflated", static_cast<unsigned long long>(r.Fragments),
              static_cast<unsigned long long>(r.Fragments * kFragmentSize));
  if (r.BodyEnded) {
    std::printf(", body %llu bytes compressed, Adler-32 valid",
                static_cast<unsigned long long>(r.BodyLength));
  }
  std::printf(")\n");
  std::printf("Trailer:        %s\n", r.TrailerValid ? "valid" : "missing or invalid");
  if (!withPages) return;
  std::printf("\n%8s  %-10s  %5s  %s\n", "fragment", "page type", "rows", "owner");
  for (const TPageLine& p : pages) {
    char type[16];
    std::snprintf(type, sizeof type, p.PageType == 1 ? (p.LongValue ? "long value" : "data")
                                                     : "0x%02X", p.PageType);
    std::printf("%8llu  %-10s  %5u  %s%s\n", static_cast<unsigned long long>(p.Index), type,
                p.RowCount, OwnerText(p).c_str(), p.Candidate ? "" : "  (not a candidate page)");
  }
}

void PrintJson(const std::string& path, const TFragmentFileReport& r,
               const std::vector<TPageLine>& pages, bool withPages) {
  TJsonObject json;
  json.Add("file", path);
  json.Add("state", StateName(r.State));
  json.Add("problem", r.Problem);
  json.Add("source_path", r.SourcePath);
  json.AddNumber("source_length", r.SourceLength);
  json.AddNumber("file_length", static_cast<long long>(r.FileLength));
  json.AddNumber("body_length", static_cast<long long>(r.BodyLength));
  json.AddNumber("fragments", static_cast<long long>(r.Fragments));
  json.AddBool("body_complete", r.BodyEnded);
  json.AddBool("trailer_valid", r.TrailerValid);
  if (withPages) {
    std::vector<std::string> items;
    for (const TPageLine& p : pages) {
      TJsonObject page;
      page.AddNumber("index", static_cast<long long>(p.Index));
      page.AddNumber("page_type", p.PageType);
      page.AddNumber("row_count", p.RowCount);
      if (p.LongValue) {
        page.Add("owner", "LVAL");
      } else {
        page.AddNumber("owner", p.OwnerPage);
      }
      page.AddBool("candidate", p.Candidate);
      items.push_back(page.Text());
    }
    json.AddRaw("pages", JsonArray(items));
  }
  std::printf("%s\n", json.Text().c_str());
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
    std::fprintf(stderr, "%s\n", ErrorDisplayText(error.what()).c_str());
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
    std::fprintf(stderr, "%s: %s fragment file: %s\n", path.c_str(), StateName(report.State),
                 report.Problem.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace quillon
