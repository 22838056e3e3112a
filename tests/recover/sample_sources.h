#pragma once
// What the tests of placing pages on sources made of the sample databases share: the
// samples read whole, a store's entries, and recovery run in memory. For test programs that
// define QUILLON_SAMPLES_DIR (the samples/ folder).

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recover/page_store.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "support/memory_file_system.h"

namespace quillon::recover::testing {

// The file `name` in the folder `folder`, whole (empty where it cannot be read).
inline std::vector<std::uint8_t> ReadWhole(const std::string& folder, const char* name) {
  std::ifstream in(folder + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bundled sample database `name`, whole (empty where it cannot be read).
inline std::vector<std::uint8_t> ReadSample(const char* name) {
  return ReadWhole(QUILLON_SAMPLES_DIR, name);
}

// Every entry of `store`, by its index there.
inline std::vector<TPageEntry> EntriesOf(const IPageStore& store) {
  std::vector<TPageEntry> entries(store.Count());
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = store.Entry(i);
  return entries;
}

class TNoProgress : public IRecoveryProgress {
 public:
  void Progress(const std::string&, std::int64_t, std::int64_t) override {}
};

// Recovers `store` into the folder "out" of `files`, with CSV files where `writeCsv`.
inline TRecoveryReport RecoverInto(const IPageStore& store,
                                   quillon::testing::TMemoryFileSystem& files,
                                   bool writeCsv = true) {
  TRecoveryOptions options;
  options.OutputDir = "out";
  options.WriteCsv = writeCsv;
  TNoProgress progress;
  return RecoverDatabases(store, files, options, progress);
}

// Recovers `store` into a folder in memory, without CSV files.
inline TRecoveryReport RecoverInMemory(const IPageStore& store) {
  quillon::testing::TMemoryFileSystem files;
  return RecoverInto(store, files, false);
}

// The table of `database`'s report named `name`, or nullptr.
inline const TTableReport* TableNamed(const TDatabaseReport& database, const std::string& name) {
  const auto at = std::find_if(database.Tables.begin(), database.Tables.end(),
                               [&](const TTableReport& table) { return table.Name == name; });
  return at == database.Tables.end() ? nullptr : &*at;
}

}  // namespace quillon::recover::testing
