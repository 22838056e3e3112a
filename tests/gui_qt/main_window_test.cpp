// The desktop window on the offscreen platform: its controls, their states around a scan,
// and real scans of the sample image driven from the toolbar with the dialogs answered.

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QLabel>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>
#include <csignal>
#include <functional>

#include "app/main_form.h"
#include "core/fragment_file_reader.h"
#include "fake_dialogs.h"
#include "support/fake_device_queries.h"
#include "gui_qt/gauge_widget.h"
#include "gui_qt/main_window.h"
#include "gui_qt/termination_signals.h"
#include "gui_qt/url_label.h"
#include "storage/file_system.h"

namespace quillon {
namespace {

const QString kSample = QStringLiteral(QUILLON_SAMPLES_DIR "/sample-jet4.mdb");
constexpr std::int64_t kSampleSize = 1052672;  // five chunks
const QString kTitle = QStringLiteral("Quillon 2.0   ") + QString::fromUtf8(QUILLON_WEB_ADDRESS);

// The window with a hook at every "process pending messages", which during a scan is
// once per chunk.
class TObservedWindow : public TMainWindow {
 public:
  using TMainWindow::TMainWindow;
  // Counts from 1 at the first call after it is set.
  void SetOnChunk(std::function<void(int chunk)> onChunk) {
    onChunk_ = std::move(onChunk);
    calls_ = 0;
  }
  void ProcessPendingMessages() override {
    TMainWindow::ProcessPendingMessages();
    if (onChunk_) onChunk_(++calls_);
  }

 private:
  std::function<void(int chunk)> onChunk_;
  int calls_ = 0;
};

struct TStates {
  bool RecBtn, SaveBtn, Start, Stop;
  QString Status;
  QString Gauge;
  int GaugeMax;
};

class TWindowRig {
 public:
  explicit TWindowRig(TLanguage language = TLanguage::Chinese)
      : fileSystem(MakePlatformFileSystem()), window(*fileSystem, devices, dialogs, language) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    output = dir.filePath(QStringLiteral("out.frag"));
  }

  template <class T = QWidget>
  T* Find(const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
  }
  void Click(const char* name) { Find<QAbstractButton>(name)->click(); }

  // Source and output chosen from the toolbar, as a user does.
  void Choose(const QString& image) {
    dialogs.MenuChoice = QStringLiteral("Openimage");
    dialogs.OpenAnswer = image;
    Click("RecBtn");
    dialogs.SaveAnswer = output;
    Click("SaveBtn");
  }

  TStates States() {
    return {Find("RecBtn")->isEnabled(), Find("SaveBtn")->isEnabled(),
            Find("button2")->isEnabled(), Find("Button1")->isEnabled(),
            Find<QLabel>("SegLabel")->text(), Find<TGaugeWidget>("gg")->Text(),
            Find<TGaugeWidget>("gg")->Gauge().Max()};
  }

  QStringList LogLines() { return Find<QTextEdit>("memo2")->toPlainText().split('\n'); }

  TFragmentFileReport ReadOutput() {
    auto stream = fileSystem->Open(output.toStdString(), TOpenMode::ReadShared);
    return ReadFragmentFile(*stream);
  }

  QTemporaryDir dir;
  QString output;
  testing::TFakeDialogs dialogs;
  std::unique_ptr<IFileSystem> fileSystem;
  testing::TFakeDeviceQueries devices;  // a machine with no volume and no drive
  TObservedWindow window;
};

}  // namespace

class TMainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // The window as its description has it (the description's own test pins the numbers).
  void controlsExistWithTheirNamesCaptionsAndSizes() {
    using namespace window;
    constexpr int kPanelHeight = kStartHeight - kToolbarHeight - kStatusBarHeight;
    TWindowRig rig;
    QCOMPARE(rig.window.windowTitle(), kTitle);
    QCOMPARE(QGuiApplication::applicationDisplayName(), kTitle);
    QCOMPARE(rig.window.size(), QSize(kStartWidth, kStartHeight));
    QCOMPARE(rig.Find("RzToolbar1")->geometry(), QRect(0, 0, kStartWidth, kToolbarHeight));
    QCOMPARE(rig.Find("RzPanel1")->geometry(), QRect(0, kToolbarHeight, kStartWidth, kPanelHeight));
    QCOMPARE(rig.Find("RzStatusBar1")->geometry(), QRect(0, kStartHeight - kStatusBarHeight, kStartWidth, kStatusBarHeight));

    // The buttons as the window's description has them (its own test pins the numbers).
    QCOMPARE(window::ToolButtons().size(), std::size_t{5});
    for (const window::TToolButton& expected : window::ToolButtons()) {
      auto* button = rig.Find<QToolButton>(expected.Name);
      QVERIFY2(button != nullptr, expected.Name);
      QCOMPARE(button->text(), QString::fromUtf8(expected.Caption.Chinese));
      QCOMPARE(button->geometry(), QRect(expected.Rect.X, expected.Rect.Y, expected.Rect.Width,
                                         expected.Rect.Height));
      QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
      QVERIFY(button->isEnabled());
      const QIcon icon = button->icon();
      QVERIFY(icon.pixmap(20, QIcon::Normal).toImage() !=
              icon.pixmap(20, QIcon::Disabled).toImage());
    }

    auto* label = rig.Find<QLabel>("Label1");
    const int frame = rig.Find<QFrame>("RzPanel1")->frameWidth();
    QCOMPARE(label->pos(), QPoint(frame, frame));
    QCOMPARE(label->width(), kLabelWidth);
    QVERIFY(label->height() >= kLabelHeight);
    QVERIFY(label->wordWrap());
    QCOMPARE(label->text().split('\n'),
             QStringList({"", "第一步:选择磁盘,选择需要扫描的分区或镜像文件.", "",
                          "第二步:保存文件,选择一个存放扫描结果的位置,输入文件名之后保存.",
                          "", "第三步:开始扫描,等待扫描进度结束.", "",
                          "第四步:扫描后的文件是加密状态需要将文件发送我们进行解析恢复您所需要的数据.",
                          "", "第五步:恢复数据,选择保存位置,打开恢复报告.", "",
                          "请以管理员权限运行此程序."}));
    // The last instruction is not cut off, whichever CJK font is installed.
    QVERIFY(label->heightForWidth(kLabelWidth) <= label->height());
    QVERIFY(label->geometry().bottom() < frame + 232);

    const std::pair<const char*, int> links[] = {
        {"RzURLLabel2", 232}, {"RzURLLabel3", 256}, {"RzURLLabel1", 280}};
    for (const auto& [name, top] : links) {
      auto* link = rig.Find<TUrlLabel>(name);
      QVERIFY2(link != nullptr, name);
      QCOMPARE(link->pos(), QPoint(frame + kLinkLeft, frame + top));
      QCOMPARE(link->font().pixelSize(), kLinkFontPixels);
      QVERIFY(link->font().underline());
      QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
      QCOMPARE(link->palette().color(QPalette::WindowText),
               link->palette().color(QPalette::Highlight));
      QCOMPARE(link->Url(), QUrl(QString::fromUtf8(QUILLON_WEB_ADDRESS)));
    }
    QVERIFY(rig.Find<QLabel>("RzURLLabel3")->text().startsWith("技术支持电话:"));
    QVERIFY(rig.Find<QLabel>("RzURLLabel1")->text().endsWith(":" QUILLON_WEB_ADDRESS));

    auto* memo = rig.Find<QTextEdit>("memo2");
    QCOMPARE(memo->width(), kMemoWidth);
    QCOMPARE(memo->geometry().right(), kStartWidth - 1 - frame);
    QVERIFY(memo->isReadOnly());
    QVERIFY(memo->toPlainText().isEmpty());

    QCOMPARE(rig.Find<QLabel>("SegLabel")->text(), QStringLiteral("文件数量："));
    QCOMPARE(rig.Find("SegLabel")->width(), kSegLabelWidth);
    QCOMPARE(rig.Find("gg")->width(), kStartWidth - kSegLabelWidth);
    QCOMPARE(rig.Find<TGaugeWidget>("gg")->Text(), QStringLiteral("0%"));
    QVERIFY(rig.Find("pop") != nullptr);

    // Chinese text is drawn with a font that has the characters, not as empty boxes.
    QVERIFY(QFontMetrics(label->font()).inFontUcs4(U'扫'));
    QVERIFY(QFontMetrics(rig.Find<QLabel>("RzURLLabel3")->font()).inFontUcs4(U'技'));
  }

  // The English window: the same controls in the same places, every text in English, the
  // instructions still above the first link; a scan logs and shows English.
  void theEnglishWindowSpeaksEnglishInTheSamePlaces() {
    using namespace window;
    TWindowRig rig(TLanguage::English);
    QCOMPARE(rig.window.windowTitle(), kTitle);
    const char* const captions[] = {"Disk", "Save", "Start", "Stop", "Recover"};
    for (std::size_t i = 0; i < std::size(captions); ++i) {
      const TToolButton& expected = ToolButtons()[i];
      auto* button = rig.Find<QToolButton>(expected.Name);
      QCOMPARE(button->text(), QString::fromLatin1(captions[i]));
      QCOMPARE(button->geometry(), QRect(expected.Rect.X, expected.Rect.Y, expected.Rect.Width,
                                         expected.Rect.Height));
      // The caption fits its button.
      QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) <=
                   expected.Rect.Width - (expected.DropDown ? 12 : 4),
               captions[i]);
    }
    auto* label = rig.Find<QLabel>("Label1");
    const int frame = rig.Find<QFrame>("RzPanel1")->frameWidth();
    QCOMPARE(label->text(), QString::fromUtf8(InstructionText("\n", TLanguage::English)));
    QCOMPARE(label->width(), kLabelWidth);
    QVERIFY(label->heightForWidth(kLabelWidth) <= label->height());
    QVERIFY2(label->geometry().bottom() < frame + 232, "the instructions end above the links");
    QCOMPARE(rig.Find<QLabel>("RzURLLabel2")->text(),
             QStringLiteral(QUILLON_SERVICE_LABEL_EN QUILLON_SERVICE_NUMBER));
    QCOMPARE(rig.Find<QLabel>("RzURLLabel3")->text(),
             QStringLiteral("Support telephone:" QUILLON_SUPPORT_TELEPHONE));
    QCOMPARE(rig.Find("RzURLLabel1")->pos(), QPoint(frame + kLinkLeft, frame + 280));
    QCOMPARE(rig.Find<QLabel>("SegLabel")->text(), QStringLiteral("Files:"));

    rig.Choose(kSample);
    rig.Click("button2");
    const TFragmentFileReport report = rig.ReadOutput();
    QCOMPARE(report.State, TFragmentFileState::Complete);
    QCOMPARE(rig.States().Status, QStringLiteral("Fragments: ") + QString::number(report.Fragments));
    QCOMPARE(rig.dialogs.Messages.back().Text, QStringLiteral("Done!"));
    const QStringList log = rig.LogLines();
    QCOMPARE(log.size(), 5);
    QCOMPARE(log[0], QStringLiteral("Source to scan: ") + kSample);
    QVERIFY(log[1].startsWith(QStringLiteral("The database fragments are saved to: ")));
    QCOMPARE(log[3], QStringLiteral("Scan started!"));
    QVERIFY(log[4].startsWith(QStringLiteral("Scan finished. ")));
  }

  void maximisingRedocksTheRegions() {
    TWindowRig rig;
    rig.window.resize(1200, 700);
    QApplication::processEvents();
    const int frame = rig.Find<QFrame>("RzPanel1")->frameWidth();
    QCOMPARE(rig.Find("RzToolbar1")->geometry(), QRect(0, 0, 1200, 44));
    QCOMPARE(rig.Find("RzStatusBar1")->geometry(), QRect(0, 681, 1200, 19));
    QCOMPARE(rig.Find("memo2")->geometry(), QRect(1200 - frame - 499, frame, 499, 637 - 2 * frame));
    QCOMPARE(rig.Find("Label1")->pos(), QPoint(frame, frame));
    QCOMPARE(rig.Find("RzURLLabel1")->pos(), QPoint(frame + 16, frame + 280));
    QCOMPARE(rig.Find("gg")->width(), 1000);
  }

  void aLinkTurnsPurpleOnlyWhenItOpened() {
    TWindowRig rig;
    auto* link = rig.Find<TUrlLabel>("RzURLLabel2");
    const QColor highlight = link->palette().color(QPalette::Highlight);
    rig.dialogs.OpenUrlSucceeds = false;
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(rig.dialogs.OpenedUrls.size(), size_t{1});
    QCOMPARE(link->palette().color(QPalette::WindowText), highlight);
    QVERIFY(rig.dialogs.Errors.empty() && rig.dialogs.Messages.empty());

    rig.dialogs.OpenUrlSucceeds = true;
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(128, 0, 128));
    QCOMPARE(rig.dialogs.OpenedUrls.back(), QUrl(QString::fromUtf8(QUILLON_WEB_ADDRESS)));
  }

  void theSourceMenuOpensBelowRecBtnAndTheDialogsAreSetUp() {
    TWindowRig rig;
    rig.Choose(kSample);
    rig.dialogs.SaveAnswer.reset();
    rig.Click("SaveBtn");  // cancelled: opens with the last name, logs it again

    auto* recBtn = rig.Find<QToolButton>("RecBtn");
    QCOMPARE(rig.dialogs.LastMenuPosition, recBtn->mapToGlobal(QPoint(0, recBtn->height())));
    QCOMPARE(rig.dialogs.MenusShown.back(), QStringList({"Openimage", "-"}));
    QCOMPARE(rig.dialogs.MenuCaptions.back().first(), QStringLiteral("打开磁盘镜像"));

    QCOMPARE(rig.dialogs.FileDialogs.size(), size_t{3});
    const TFileDialogSettings& od = rig.dialogs.FileDialogs[0];
    QVERIFY(od.Kind == TFileDialogSettings::TKind::Open);
    QVERIFY(od.Filter.isEmpty() && od.DefaultExtension.isEmpty() && od.FileName.isEmpty());
    for (std::size_t i = 1; i < 3; ++i) {
      const TFileDialogSettings& sd = rig.dialogs.FileDialogs[i];
      QVERIFY(sd.Kind == TFileDialogSettings::TKind::Save);
      QVERIFY(sd.Filter.isEmpty() && sd.DefaultExtension.isEmpty() && sd.ConfirmOverwrite);
    }
    QVERIFY(rig.dialogs.FileDialogs[1].FileName.isEmpty());
    QCOMPARE(rig.dialogs.FileDialogs[2].FileName, rig.output);

    QCOMPARE(rig.LogLines(), QStringList({"扫描存储介质: " + kSample,
                                          "数据库碎片保存路径为: " + rig.output,
                                          "数据库碎片保存路径为: " + rig.output}));
    QCOMPARE(rig.window.Main().SourceSize, kSampleSize);
  }

  void aScanFromTheToolbarFollowsTheStateTable() {
    TWindowRig rig;
    rig.Choose(kSample);
    const TStates before = rig.States();
    QVERIFY(before.RecBtn && before.SaveBtn && before.Start && before.Stop);

    std::vector<TStates> during;
    rig.window.SetOnChunk([&](int) { during.push_back(rig.States()); });
    rig.Click("button2");

    QCOMPARE(during.size(), size_t{5});
    for (const TStates& states : during) {
      QVERIFY(states.RecBtn && states.SaveBtn && !states.Start && states.Stop);
      QCOMPARE(states.GaugeMax, 1028);  // KiB
    }
    // Taken before the chunk sets the gauge: the third chunk shows the second's 256 KiB.
    QCOMPARE(during[2].Gauge, QStringLiteral("24%"));
    const TStates after = rig.States();
    QVERIFY(after.RecBtn && after.SaveBtn && after.Start && after.Stop);
    QCOMPARE(after.Gauge, QStringLiteral("0%"));
    QCOMPARE(after.GaugeMax, 1028);

    const TFragmentFileReport report = rig.ReadOutput();
    QCOMPARE(report.State, TFragmentFileState::Complete);
    QVERIFY(report.Fragments > 0);
    QCOMPARE(after.Status, QStringLiteral("碎片：") + QString::number(report.Fragments));

    QCOMPARE(rig.dialogs.Messages.size(), size_t{2});
    QCOMPARE(rig.dialogs.Messages[0].Text, QString::number(kSampleSize));
    QCOMPARE(rig.dialogs.Messages[1].Text, QStringLiteral("完成！"));
    for (const auto& box : rig.dialogs.Messages) {
      QCOMPARE(box.Title, kTitle);
      QVERIFY(!box.ClosedAtOnce);
    }
    QVERIFY(rig.dialogs.Errors.empty());
    QCOMPARE(rig.LogLines().mid(2),
             QStringList({"======================================================", "开始扫描!",
                          "扫描结束,请联系软件客服将扫描加密文件发送过去进行分析数据恢复情况"}));
    QVERIFY(rig.window.isVisible());
  }

  void aScanThatFindsNothingKeepsSegLabel() {
    TWindowRig rig;
    const QString zeros = rig.dir.filePath(QStringLiteral("zeros.img"));
    QFile file(zeros);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300000, '\0'));
    file.close();

    rig.Choose(zeros);
    rig.Click("button2");
    QCOMPARE(rig.States().Status, QStringLiteral("文件数量："));

    rig.Choose(kSample);
    rig.Click("button2");
    const QString count = rig.States().Status;
    QVERIFY(count.startsWith(QStringLiteral("碎片：")));
    rig.Choose(zeros);
    rig.Click("button2");
    QCOMPARE(rig.States().Status, count);
    QCOMPARE(rig.States().Gauge, QStringLiteral("0%"));
  }

  // A scan sets the status text for every fragment: SegLabel takes a new one at most ten
  // times a second, at the pump, yet shows the count during the scan, the final count
  // under the completion box and after the command.
  void theFragmentCountShowsAtThePumpNotForEveryFragment() {
    TWindowRig rig;
    rig.Choose(kSample);
    const int showsBefore = rig.window.StatusTextShows();
    QString shownDuringScan;
    rig.window.SetOnChunk([&](int chunk) {
      if (chunk != 3) return;
      QTest::qSleep(150);  // the timer set at the first fragment has run out
      rig.window.TMainWindow::ProcessPendingMessages();
      shownDuringScan = rig.States().Status;
    });
    QString shownUnderTheBox;
    rig.dialogs.OnMessage = [&](const QString& text) {
      if (text == QStringLiteral("完成！")) shownUnderTheBox = rig.States().Status;
    };
    QElapsedTimer clock;
    clock.start();
    rig.Click("button2");
    const qint64 elapsed = clock.elapsed();

    const std::int64_t fragments = rig.window.Main().LastScan().Fragments;
    QVERIFY(fragments > 20);
    const QString final = QStringLiteral("碎片：") + QString::number(fragments);
    QVERIFY2(shownDuringScan.startsWith(QStringLiteral("碎片：")), qPrintable(shownDuringScan));
    QVERIFY2(shownDuringScan != final, "a count from the middle of the scan");
    QCOMPARE(shownUnderTheBox, final);
    QCOMPARE(rig.States().Status, final);
    // Once at the pump after the sleep, once before the box, and at most once more for
    // every further tenth of a second the scan took (a loaded machine); the command's end
    // finds nothing new.
    const int shows = rig.window.StatusTextShows() - showsBefore;
    QVERIFY2(shows >= 2 && shows <= 2 + (elapsed - 150) / 100,
             qPrintable(QString::number(shows) + " texts in " + QString::number(elapsed) + " ms"));
  }

  // A flood of texts between pumps: at most one a tenth of a second reaches SegLabel, and
  // the last is never lost, with or without a command's end.
  void aFloodOfStatusTextsEndsWithTheLastShown() {
    TWindowRig rig;
    const int showsBefore = rig.window.StatusTextShows();
    QElapsedTimer clock;
    clock.start();
    constexpr int kTexts = 200000;
    for (int i = 1; i <= kTexts; ++i) {
      rig.window.SetStatusText("碎片：" + std::to_string(i));
      if (i % 1000 == 0) QCoreApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    const int shownDuringFlood = rig.window.StatusTextShows() - showsBefore;
    QVERIFY2(shownDuringFlood <= elapsed / 100 + 1,
             qPrintable(QString::number(shownDuringFlood) + " texts in " +
                        QString::number(elapsed) + " ms"));
    // The timer still pending shows the last text without any command.
    QTRY_COMPARE(rig.States().Status, QStringLiteral("碎片：") + QString::number(kTexts));
    QCOMPARE(rig.window.StatusTextShows() - showsBefore, shownDuringFlood + 1);
    // Nothing more comes: the same text again is no new text.
    rig.window.SetStatusText("碎片：" + std::to_string(kTexts));
    QTest::qWait(150);
    QCOMPARE(rig.window.StatusTextShows() - showsBefore, shownDuringFlood + 1);
  }

  void stopDuringAScanFinishesTheFile() {
    TWindowRig rig;
    rig.Choose(kSample);
    rig.window.SetOnChunk([&](int chunk) {
      if (chunk == 2) rig.Click("Button1");
    });
    rig.Click("button2");

    QCOMPARE(rig.window.Main().LastScan().End, TScanEnd::Stopped);
    QCOMPARE(rig.window.Main().LastScan().BytesScanned, std::int64_t{262144});
    QCOMPARE(rig.ReadOutput().State, TFragmentFileState::Complete);
    QCOMPARE(rig.States().Gauge, QStringLiteral("0%"));
    QVERIFY(rig.States().Start);
    QCOMPARE(rig.dialogs.Messages.back().Text, QStringLiteral("完成！"));
    QVERIFY(!rig.dialogs.Messages.back().ClosedAtOnce);
    QCOMPARE(rig.LogLines().last(),
             QStringLiteral("扫描结束,请联系软件客服将扫描加密文件发送过去进行分析数据恢复情况"));
    QVERIFY(rig.window.isVisible());
  }

  void aCloseRequestDuringAScanEndsTheProgramAfterTheScan() {
    TWindowRig rig;
    rig.Choose(kSample);
    std::vector<bool> visible;
    rig.window.SetOnChunk([&](int chunk) {
      if (chunk == 2 || chunk == 3) QVERIFY(!rig.window.close());  // the second changes nothing
      visible.push_back(rig.window.isVisible());
    });
    rig.Click("button2");

    QCOMPARE(visible, std::vector<bool>(5, true));
    QCOMPARE(rig.window.Main().LastScan().End, TScanEnd::Completed);
    QCOMPARE(rig.window.Main().LastScan().BytesScanned, kSampleSize);
    QCOMPARE(rig.ReadOutput().State, TFragmentFileState::Complete);
    QCOMPARE(rig.dialogs.Messages.back().Text, QStringLiteral("完成！"));
    QVERIFY(rig.dialogs.Messages.back().ClosedAtOnce);
    QVERIFY(!rig.window.isVisible());
  }

  // The fifth command: the sample recovered into a chosen folder through the button, with
  // both start buttons locked meanwhile, and the report handed to the desktop.
  void theRecoverButtonRecoversTheSampleAndOpensTheReport() {
    TWindowRig rig;
    rig.dialogs.MenuChoice = QStringLiteral("Openimage");
    rig.dialogs.OpenAnswer = kSample;
    rig.Click("RecBtn");
    const QString folder = rig.dir.filePath(QStringLiteral("recovered"));
    rig.dialogs.FolderAnswer = folder;
    std::vector<bool> locked;
    rig.window.SetOnChunk([&](int) {
      locked.push_back(!rig.Find("button2")->isEnabled() && !rig.Find("RecoverBtn")->isEnabled() &&
                       rig.Find("Button1")->isEnabled());
    });
    rig.Click("RecoverBtn");

    QCOMPARE(rig.dialogs.FolderDialogs, 1);
    QVERIFY(rig.dialogs.Errors.empty());
    QVERIFY(locked.size() > 5);
    QCOMPARE(locked, std::vector<bool>(locked.size(), true));
    QVERIFY(rig.Find("button2")->isEnabled());
    QVERIFY(rig.Find("RecoverBtn")->isEnabled());
    const QString report = folder + QStringLiteral("/report.html");
    QCOMPARE(rig.dialogs.OpenedUrls, std::vector<QUrl>{QUrl::fromLocalFile(report)});
    QVERIFY(QFileInfo(report).isFile());
    QVERIFY(QFileInfo(folder + QStringLiteral("/database-1.sqlite")).isFile());
    QCOMPARE(rig.States().Status, QStringLiteral("碎片：235"));
    QCOMPARE(rig.States().Gauge, QStringLiteral("0%"));
    const QStringList log = rig.LogLines();
    QCOMPARE(log.at(log.size() - 2),
             QStringLiteral("恢复完成：1 个数据库，2 张表，978 行数据，保存在: ") + folder);
    QCOMPARE(log.last(), QStringLiteral("恢复报告: ") + report);
    QCOMPARE(rig.dialogs.Messages.back().Text, QStringLiteral("完成！"));
    QVERIFY(rig.window.isVisible());
  }

  void aCloseRequestDuringARecoveryEndsTheProgramAfterIt() {
    TWindowRig rig;
    rig.dialogs.MenuChoice = QStringLiteral("Openimage");
    rig.dialogs.OpenAnswer = kSample;
    rig.Click("RecBtn");
    rig.dialogs.FolderAnswer = rig.dir.filePath(QStringLiteral("recovered"));
    rig.window.SetOnChunk([&](int chunk) {
      if (chunk == 2) QVERIFY(!rig.window.close());
    });
    rig.Click("RecoverBtn");
    QCOMPARE(rig.window.Main().LastRecovery().Rows, std::int64_t{978});
    QVERIFY(rig.dialogs.Messages.back().ClosedAtOnce);
    QVERIFY(rig.dialogs.OpenedUrls.empty());
    QVERIFY(!rig.window.isVisible());
  }

  void closingWhileIdleClosesAtOnce() {
    TWindowRig rig;
    QVERIFY(rig.window.close());
    QVERIFY(!rig.window.isVisible());
  }

  void aTerminationSignalStopsTheScanAndEndsAfterItsFile_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP, the terminal closed") << SIGHUP;
    QTest::newRow("SIGINT") << SIGINT;
  }

  void aTerminationSignalStopsTheScanAndEndsAfterItsFile() {
    QFETCH(int, signal);
    TWindowRig rig;
    TTerminationSignals termination;
    connect(&termination, &TTerminationSignals::Requested, &rig.window,
            &TMainWindow::RequestTermination);
    rig.Choose(kSample);
    rig.window.SetOnChunk([&](int chunk) {
      if (chunk == 2) ::raise(signal);
    });
    rig.Click("button2");

    QCOMPARE(rig.window.Main().LastScan().End, TScanEnd::Stopped);
    QVERIFY(rig.window.Main().LastScan().BytesScanned < kSampleSize);
    QCOMPARE(rig.ReadOutput().State, TFragmentFileState::Complete);
    QVERIFY(rig.dialogs.Messages.back().ClosedAtOnce);
    QVERIFY(!rig.window.isVisible());
  }

  void failuresGoToTheErrorDisplayAndTheWindowGoesOn() {
    TWindowRig rig;
    const QString missing = rig.dir.filePath(QStringLiteral("gone.img"));
    rig.Choose(missing);
    QCOMPARE(rig.dialogs.Errors.size(), size_t{1});
    QCOMPARE(rig.dialogs.Errors[0].Title, kTitle);
    QVERIFY(rig.dialogs.Errors[0].Text.startsWith("Cannot open file \"" + missing + "\". "));
    QVERIFY(rig.dialogs.Errors[0].Text.endsWith('.'));

    // The scan of the same path fails too, after its cleanup; the window still works.
    rig.Click("button2");
    QCOMPARE(rig.dialogs.Errors.size(), size_t{2});
    QCOMPARE(rig.dialogs.Messages.back().Text, QStringLiteral("完成！"));
    QVERIFY(rig.States().Start);
    rig.Choose(kSample);
    rig.Click("button2");
    QCOMPARE(rig.ReadOutput().State, TFragmentFileState::Complete);
  }

  // A document chosen by mistake, or yesterday's good fragment file: the save dialog asks
  // the system's question, the file is not touched while the scan runs, a complete scan
  // replaces it, and a re-scan whose source dies leaves the good file as it was.
  void anExistingFileChosenIsKeptUntilAScanCompletesIt() {
    TWindowRig rig;
    QFile document(rig.output);
    QVERIFY(document.open(QIODevice::WriteOnly));
    document.write(QByteArray(100000, 'd'));
    document.close();
    const QString copy = rig.dir.filePath(QStringLiteral("copy.img"));
    QVERIFY(QFile::copy(kSample, copy));
    // Zeros after the sample keep the source long enough that the cut below lands ahead of
    // what the scan has already read in advance.
    QVERIFY(QFile::resize(copy, 32 * 262144));
    rig.Choose(copy);
    QVERIFY(rig.dialogs.FileDialogs.back().ConfirmOverwrite);
    qint64 sizeDuringScan = -1;
    rig.window.SetOnChunk([&](int chunk) {
      if (chunk == 3) sizeDuringScan = QFileInfo(rig.output).size();
    });
    rig.Click("button2");
    QCOMPARE(sizeDuringScan, qint64{100000});
    QCOMPARE(rig.ReadOutput().State, TFragmentFileState::Complete);
    QCOMPARE(rig.ReadOutput().Fragments, std::uint64_t{235});
    QFile good(rig.output);
    QVERIFY(good.open(QIODevice::ReadOnly));
    const QByteArray yesterday = good.readAll();
    good.close();

    // The disk dies during the re-scan: the source is cut to nothing after two chunks.
    rig.window.SetOnChunk([&](int chunk) {
      if (chunk == 2) QFile::resize(copy, 0);
    });
    rig.Click("button2");
    QCOMPARE(rig.window.Main().LastScan().End, TScanEnd::SourceLost);
    QCOMPARE(rig.dialogs.Errors.size(), size_t{1});
    QVERIFY(rig.dialogs.Errors[0].Text.contains(rig.output + ".partial"));
    QVERIFY(good.open(QIODevice::ReadOnly));
    QCOMPARE(good.readAll(), yesterday);
    QCOMPARE(rig.LogLines().last(), "未完成的扫描文件保留为: " + rig.output + ".partial");
    auto partial = rig.fileSystem->Open((rig.output + ".partial").toStdString(),
                                        TOpenMode::ReadShared);
    QCOMPARE(ReadFragmentFile(*partial).State, TFragmentFileState::Complete);
  }

  void startingWithoutChoicesShowsThePlainMessage() {
    TWindowRig rig;
    rig.Click("button2");
    QCOMPARE(rig.dialogs.Messages.size(), size_t{1});
    QCOMPARE(rig.dialogs.Messages[0].Text, QStringLiteral("请填写数据源以及保存路径信息！"));
    QCOMPARE(rig.dialogs.Messages[0].Title, kTitle);
    QVERIFY(rig.dialogs.Errors.empty());
    QVERIFY(rig.States().Start);
  }
};

}  // namespace quillon

QTEST_MAIN(quillon::TMainWindowTest)
#include "main_window_test.moc"
