// libFuzzer target for recovery's decoding: the input is a run of 4096-byte pages (the last
// completed with zeros) lying in order from offset 0, classified by their first bytes as
// the scan would keep them. Definitions are parsed, databases told apart, and every table's
// rows decoded with long values followed; nothing is written. A page of garbage costs a
// refused definition or a skipped row, never a crash.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/table_definition.h"

namespace {

using namespace quillon::recover;
using quillon::kPageSize;

class TFuzzStore : public IPageStore {
 public:
  TFuzzStore(const std::uint8_t* data, std::size_t size) {
    for (std::size_t at = 0; at < size && pages_.size() < 64; at += kPageSize) {
      std::array<std::uint8_t, kPageSize> page{};
      std::memcpy(page.data(), data + at, std::min(kPageSize, size - at));
      TPageEntry entry;
      entry.SourceOffset = static_cast<std::int64_t>(at);
      switch (page[0]) {
        case 0x00: entry.Kind = TPageKind::Header; break;
        case 0x02: entry.Kind = TPageKind::Definition; break;
        case 0x05: entry.Kind = TPageKind::UsageMap; break;
        default:
          entry.Kind = TPageKind::Data;
          std::memcpy(&entry.Owner, page.data() + 4, 4);
      }
      entries_.push_back(entry);
      pages_.push_back(page);
    }
  }
  std::size_t Count() const override { return entries_.size(); }
  TPageEntry Entry(std::size_t index) const override { return entries_[index]; }
  bool HasOffsets() const override { return true; }
  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override {
    std::memcpy(out.data(), pages_[index].data(), kPageSize);
  }

 private:
  std::vector<TPageEntry> entries_;
  std::vector<std::array<std::uint8_t, kPageSize>> pages_;
};

class TNoFiles : public quillon::IFileSystem {
 public:
  std::unique_ptr<quillon::TStream> Open(const std::string&, quillon::TOpenMode) override {
    throw std::logic_error("recovery wrote a file with every output off");
  }
  quillon::TPathFacts Facts(const std::string&) override { return {}; }
  std::string FinalPath(const std::string& path) override { return path; }
  void Replace(const std::string&, const std::string&) override {
    throw std::logic_error("recovery moved a file with every output off");
  }
  bool Remove(const std::string&) override { return false; }
};

class TNoProgress : public IRecoveryProgress {
 public:
  void Progress(const std::string&, std::int64_t, std::int64_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The definition parser alone, on the input as one definition's bytes.
  const TDefinitionResult parsed = ParseTableDefinition(std::span(data, size));
  if (parsed.Status == TDefinitionParse::Ok && parsed.Definition->Columns.empty()) __builtin_trap();

  const TFuzzStore store(data, size);
  TNoFiles files;
  TRecoveryOptions options;
  options.OutputDir = "out";
  options.WriteCsv = false;
  options.WriteSqlite = false;
  TNoProgress progress;
  const TRecoveryReport report = RecoverDatabases(store, files, options, progress);
  return RecoveryReportText(report).empty() ? 1 : 0;
}
