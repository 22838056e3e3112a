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
    const char* EnglishCaption;
    TRect Rect;
  };
  const TExpected expected[] = {{"RecBtn", "选择磁盘", "Disk", {4, 2, 74, 40}},
                                {"SaveBtn", "保存文件", "Save", {78, 2, 60, 40}},
                                {"button2", "开始扫描", "Start", {138, 2, 60, 40}},
                                {"Button1", "停止扫描", "Stop", {198, 2, 60, 40}},
                                {"RecoverBtn", "恢复数据", "Recover", {258, 2, 60, 40}}};
  ASSERT_EQ(ToolButtons().size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const TToolButton& button = ToolButtons()[i];
    EXPECT_STREQ(button.Name, expected[i].Name);
    EXPECT_STREQ(button.Caption.In(TLanguage::Chinese), expected[i].Caption);
    EXPECT_STREQ(button.Caption.In(TLanguage::English), expected[i].EnglishCaption);
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
  EXPECT_LT(kLabelHeight, Links(TLanguage::Chinese).front().Top);
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
  const std::string text = InstructionText("\r\n", TLanguage::Chinese);
  EXPECT_EQ(text.rfind("\r\n第一步:选择磁盘,", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
  // The fifth step names the fifth button, after the four steps and before the last line.
  EXPECT_NE(text.find(std::string("\r\n\r\n第五步:") + texts::kRecoverCaption.Chinese + ","),
            std::string::npos);
  EXPECT_LT(text.find("第四步:"), text.find("第五步:"));
  EXPECT_TRUE(text.ends_with("\r\n请以管理员权限运行此程序."));
  const std::vector<TLink> links = Links(TLanguage::Chinese);
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(links[0].Top, 232);
  EXPECT_EQ(links[0].Caption, std::string(QUILLON_SERVICE_LABEL) + QUILLON_SERVICE_NUMBER);
  EXPECT_EQ(links[1].Caption, std::string("技术支持电话:") + QUILLON_SUPPORT_TELEPHONE);
  EXPECT_EQ(links[2].Caption, std::string("Quillon:") + QUILLON_WEB_ADDRESS);
  EXPECT_EQ(links[2].Top, 280);
}

// In English the same lines in the same places, each step naming its button's English
// caption; the links keep their places.
TEST(WindowLayoutTest, TheEnglishWindowHasTheSameLinesAndPlaces) {
  const std::string text = InstructionText("\n", TLanguage::English);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
  EXPECT_EQ(text.rfind(std::string("\nStep 1: ") + texts::kRecBtnCaption.English + ":", 0), 0u);
  std::vector<std::string> lines{""};
  for (const char c : text) {
    if (c == '\n') lines.emplace_back(); else lines.back() += c;
  }
  const char* const starts[] = {"Step 1: Disk:", "Step 2: Save:", "Step 3: Start,", "Step 4: ",
                                "Step 5: Recover ", "Please run"};
  ASSERT_EQ(lines.size(), 2 * std::size(starts));
  for (std::size_t i = 0; i < std::size(starts); ++i) {
    EXPECT_EQ(lines[2 * i], "");
    EXPECT_EQ(lines[2 * i + 1].rfind(starts[i], 0), 0u) << lines[2 * i + 1];
  }
  EXPECT_TRUE(text.ends_with("\n\nPlease run this program as administrator."));
  EXPECT_EQ(text.find_first_of("\xE4\xE5\xE6\xE7\xE8\xE9"), std::string::npos)
      << "no Chinese character in the English instructions";
  // Each line takes as many rows as its Chinese one, also in a font whose Latin letters
  // are all half as wide as its Chinese ones (宋体: 6 of 12 pixels): one row for 48
  // letters in the label's 289 pixels, 47 with room to spare.
  for (std::size_t i = 1; i < lines.size(); i += 2) {
    EXPECT_LE(lines[i].size(), i == 3 || i == 7 ? 90u : 47u) << lines[i];
  }

  const std::vector<TLink> links = Links(TLanguage::English);
  const std::vector<TLink> chinese = Links(TLanguage::Chinese);
  ASSERT_EQ(links.size(), chinese.size());
  for (std::size_t i = 0; i < links.size(); ++i) {
    EXPECT_STREQ(links[i].Name, chinese[i].Name);
    EXPECT_EQ(links[i].Top, chinese[i].Top);
  }
  EXPECT_EQ(links[0].Caption, std::string(QUILLON_SERVICE_LABEL_EN) + QUILLON_SERVICE_NUMBER);
  EXPECT_EQ(links[1].Caption, std::string("Support telephone:") + QUILLON_SUPPORT_TELEPHONE);
  EXPECT_EQ(links[2].Caption, chinese[2].Caption);
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
