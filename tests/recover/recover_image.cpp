// quillon-recover-image IMAGE OUTDIR [--json]: recovery straight from a raw image, for the
// end-to-end test against mdbtools. Prints the summary (or its JSON); exit status 0 when
// written, 1 on a failure (its text on stderr), 2 on wrong arguments.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "core/errors.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/image_page_store.h"
#include "storage/file_system.h"

namespace {

class TQuietProgress : public quillon::recover::IRecoveryProgress {
 public:
  void Progress(const std::string&, std::int64_t, std::int64_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
  using namespace quillon;
  if (argc < 3 || argc > 4 || (argc == 4 && std::string(argv[3]) != "--json")) {
    std::cerr << "usage: quillon-recover-image IMAGE OUTDIR [--json]\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 1;
  }
  std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  try {
    const recover::testing::TImagePageStore store(std::move(image));
    std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
    fileSystem->CreateFolder(argv[2]);
    recover::TRecoveryOptions options;
    options.OutputDir = argv[2];
    TQuietProgress progress;
    const recover::TRecoveryReport report =
        recover::RecoverDatabases(store, *fileSystem, options, progress);
    if (argc == 4) {
      std::cout << recover::RecoveryReportJson(report).dump(2) << "\n";
    } else {
      std::cout << recover::RecoveryReportText(report);
    }
  } catch (const EQuillonError& error) {
    std::cerr << error.what() << "\n";
    return 1;
  }
  return 0;
}
