// OUTDIR's file system: every file recover makes is listed before it is made, and nothing is
// made outside the folder, whichever separator joined its name to a Windows folder.

#include <gtest/gtest.h>

#include <string>

#include "app/recover_output.h"
#include "core/errors.h"
#include "support/memory_file_system.h"

namespace quillon {
namespace {

std::string Text(const std::vector<std::uint8_t>& data) { return {data.begin(), data.end()}; }

TEST(RecoverOutputsTest, ListsWhatItMakesInsideAWindowsFolderAndRefusesTheRest) {
  testing::TMemoryFileSystem inner;
  TRecoverOutputs outputs(inner, "C:\\cases\\out");
  outputs.Begin();
  // The decoding joins with '/', the reading with the folder's own separator.
  EXPECT_NO_THROW(outputs.Open("C:\\cases\\out/database-1.sqlite", TOpenMode::CreateExclusive));
  EXPECT_NO_THROW(outputs.Open("C:\\cases\\out\\database-1/T.csv", TOpenMode::CreateExclusive));
  for (const char* outside : {"C:\\cases\\outer/x.csv", "C:\\cases\\out/../x.csv",
                              "C:\\cases\\out\\quillon-recover.manifest", "C:\\cases\\x.csv"}) {
    EXPECT_THROW(outputs.Open(outside, TOpenMode::CreateExclusive), EQuillonError) << outside;
  }
  const auto manifest = inner.Find("C:\\cases\\out\\quillon-recover.manifest");
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(Text(manifest->Data),
            "quillon-cli recover, version 1\ndatabase-1.sqlite\ndatabase-1/T.csv\n");
}

}  // namespace
}  // namespace quillon
