// The window's description, which both desktop windows draw: the toolbar's places and
// captions, the enabled states per window state, and the icons' shapes.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "app/texts.h"
#include "app/window_layout.h"

namespace quillon::window {
namespace {

TEST(WindowLayoutTest, ToolbarButtonsFollowEachOtherWithTheirCaptions) {
  struct TExpected {
    const char* Name;
    const char* Caption;
    TRect Rect;
  };
  const TExpected expected[] = {{"RecBtn", "选择磁盘", {4, 2, 74, 40}},
                                {"SaveBtn", "保存文件", {78, 2, 60, 40}},
                                {"button2", "开始扫描", {138, 2, 60, 40}},
                                {"Button1", "停止扫描", {198, 2, 60, 40}},
                                {"RecoverBtn", "恢复数据", {258, 2, 60, 40}}};
  ASSERT_EQ(ToolButtons().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const TToolButton& button = ToolButtons()[i];
    EXPECT_STREQ(button.Name, expected[i].Name);
    EXPECT_STREQ(button.Caption, expected[i].Caption);
    EXPECT_EQ(button.Rect, expected[i].Rect) << button.Name;
    EXPECT_EQ(button.DropDown, i == 0);
    EXPECT_EQ(&ToolButton(button.Command), &button);
    // Inside the toolbar and clear of the one before it.
    EXPECT_LE(button.Rect.Y + button.Rect.Height, kToolbarHeight);
    if (i > 0) {
      const TRect& before = ToolButtons()[i - 1].Rect;
      EXPECT_EQ(button.Rect.X, before.X + before.Width);
    }
  }
}

TEST(WindowLayoutTest, RegionsAndControlsHaveTheirSizes) {
  EXPECT_EQ(kStartWidth, 789);
  EXPECT_EQ(kStartHeight, 400);
  EXPECT_EQ(kStartHeight - kToolbarHeight - kStatusBarHeight, 337);  // the content area
  EXPECT_EQ(kStartWidth - kSegLabelWidth, 589);                      // gg at start
  EXPECT_EQ(kLabelWidth, 289);
  EXPECT_EQ(kLabelHeight, 201);
  EXPECT_EQ(kMemoWidth, 499);
  EXPECT_EQ(kLinkLeft, 16);
  EXPECT_EQ(kFontPixels, 12);
  EXPECT_EQ(kLinkFontPixels, 13);
  // The first link lies below the instructions.
  EXPECT_LT(kLabelHeight, Links().front().Top);
}

TEST(WindowLayoutTest, AScanAndARecoveryEachLockBothStarts) {
  for (const TCommand command : {TCommand::Start, TCommand::Recover}) {
    EXPECT_TRUE(Enabled(command, TWindowState::Idle));
    EXPECT_FALSE(Enabled(command, TWindowState::Scanning));
    EXPECT_FALSE(Enabled(command, TWindowState::Recovering));
  }
  for (const TCommand command : {TCommand::ChooseSource, TCommand::Save, TCommand::Stop}) {
    for (const TWindowState state :
         {TWindowState::Idle, TWindowState::Scanning, TWindowState::Recovering}) {
      EXPECT_TRUE(Enabled(command, state));
    }
  }
}

TEST(WindowLayoutTest, TextsAreJoinedOnce) {
  const std::string text = InstructionText("\r\n");
  EXPECT_EQ(text.rfind("\r\n第一步:选择磁盘,", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
  // The fifth step names the fifth button, after the four steps and before the last line.
  EXPECT_NE(text.find(std::string("\r\n\r\n第五步:") + texts::kRecoverCaption + ","),
            std::string::npos);
  EXPECT_LT(text.find("第四步:"), text.find("第五步:"));
  EXPECT_TRUE(text.ends_with("\r\n请以管理员权限运行此程序."));
  const std::vector<TLink> links = Links();
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(links[0].Top, 232);
  EXPECT_EQ(links[1].Caption, std::string("技术支持电话:") + QUILLON_SUPPORT_TELEPHONE);
  EXPECT_EQ(links[2].Caption, std::string("Quillon:") + QUILLON_WEB_ADDRESS);
  EXPECT_EQ(links[2].Top, 280);
}

TEST(WindowLayoutTest, EveryIconHasShapesThatTheGridHolds) {
  for (const TCommand command : {TCommand::ChooseSource, TCommand::Save, TCommand::Start,
                                 TCommand::Stop, TCommand::Recover}) {
    const TIcon& icon = Icon(IconOf(command));
    ASSERT_FALSE(icon.Shapes.empty());
    // Told apart from its greyed form by colour.
    EXPECT_NE(icon.Colours.Main, GreyedPalette().Main);
    for (const TShape& shape : icon.Shapes) {
      EXPECT_TRUE(shape.Stroke || shape.Fill);
      const std::size_t needed = shape.Kind == TShapeKind::Polygon ? 3 : 2;
      EXPECT_GE(shape.Points.size(), needed);
      for (const TPoint& point : shape.Points) {
        EXPECT_TRUE(point.X >= 0 && point.X <= kIconGrid && point.Y >= 0 && point.Y <= kIconGrid);
      }
    }
  }
  EXPECT_EQ(MenuEntryIcon(17), TIconKind::ChooseDisk);
  EXPECT_EQ(MenuEntryIcon(18), TIconKind::Volume);
  EXPECT_EQ(MenuEntryIcon(19), TIconKind::ImageFile);
  EXPECT_FALSE(MenuEntryIcon(0));
}

}  // namespace
}  // namespace quillon::window
