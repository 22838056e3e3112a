// Choosing an image file as the source: the log line, the path and the size.

#include <gtest/gtest.h>

#include "app/main_form.h"
#include "core/errors.h"
#include "core/source_path.h"
#include "support/memory_file_system.h"
#include "support/fake_device_queries.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

using testing::TMemoryFileSystem;
using testing::TScriptedView;

class SourceChangeTest : public ::testing::Test {
 protected:
  TMemoryFileSystem fs_;
  TScriptedView view_;
  testing::TFakeDeviceQueries devices_;
  TMain main_{view_, fs_, devices_};
};

TEST_F(SourceChangeTest, ImageFileIsLoggedAndSizedOnce) {
  fs_.Put("/images/card.img", std::vector<std::uint8_t>(5000));
  main_.Source.SetText("/images/card.img");
  EXPECT_EQ(view_.Log, std::vector<std::string>{"扫描存储介质: /images/card.img"});
  EXPECT_EQ(main_.SourcePath, "/images/card.img");
  EXPECT_EQ(main_.SourceSize, 5000);
  EXPECT_EQ(fs_.OpenStreams(), 0);

  // The same text again runs nothing, even after the file has grown.
  fs_.Find("/images/card.img")->Data.resize(9000);
  main_.Source.SetText("/images/card.img");
  EXPECT_EQ(view_.Log.size(), 1u);
  EXPECT_EQ(main_.SourceSize, 5000);
}

TEST_F(SourceChangeTest, FailedOpenKeepsTheOldSizeButTakesTheNewPath) {
  fs_.Put("/a.img", std::vector<std::uint8_t>(700));
  main_.Source.SetText("/a.img");
  EXPECT_THROW(main_.Source.SetText("/missing.img"), EQuillonError);
  EXPECT_EQ(main_.SourcePath, "/missing.img");
  EXPECT_EQ(main_.SourceSize, 700);
  EXPECT_EQ(view_.Log.back(), "扫描存储介质: /missing.img");
  // Choosing it again runs nothing: the text has not changed.
  EXPECT_NO_THROW(main_.Source.SetText("/missing.img"));
  EXPECT_EQ(view_.Log.size(), 2u);
}

TEST(SourcePathForms, DrivesVolumesAndImages) {
  const TPathConstants c{"physicaldrive", "\\\\.\\", ":", ":\\"};
  EXPECT_EQ(ToSourcePath("physicaldrive1", c), "\\\\.\\physicaldrive1");
  EXPECT_EQ(ToSourcePath("C:", c), "\\\\.\\C:");
  EXPECT_EQ(ToSourcePath("C:\\", c), "\\\\.\\C:");
  EXPECT_EQ(ToSourcePath("D:\\x.img", c), "D:\\x.img");
  EXPECT_EQ(ToSourcePath("/home/x.img", c), "/home/x.img");
  EXPECT_EQ(ToSourcePath("\\\\.\\C:", c), "\\\\.\\C:");
  EXPECT_EQ(ToSourcePath("", c), "");
  EXPECT_EQ(SourceKindOf("\\\\.\\physicaldrive12", c), TSourceKind::PhysicalDrive);
  EXPECT_EQ(SourceKindOf("\\\\.\\C:", c), TSourceKind::Volume);
  EXPECT_EQ(SourceKindOf("D:\\x.img", c), TSourceKind::ImageFile);
  EXPECT_EQ(SourceKindOf("/physicaldrive0", c), TSourceKind::ImageFile);
}

}  // namespace
}  // namespace quillon
