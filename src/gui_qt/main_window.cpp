#include "gui_qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QScreen>
#include <QStringList>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "app/branding.h"
#include "app/error_display.h"
#include "app/texts.h"
#include "gui_qt/drop_down_tool_button.h"
#include "gui_qt/gauge_widget.h"
#include "gui_qt/icons.h"
#include "gui_qt/url_label.h"
#include "gui_qt/window_font.h"

namespace quillon {
namespace {

using namespace window;

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text); }

// How long a new status text waits for the message pump: ten texts a second at most.
constexpr int kStatusDelayMilliseconds = 100;

QToolButton* MakeToolButton(QToolButton* button, const TToolButton& from, TLanguage language) {
  button->setObjectName(QString::fromLatin1(from.Name));
  button->setText(QString::fromUtf8(from.Caption.In(language)));
  button->setIcon(ToolIcon(IconOf(from.Command)));
  button->setIconSize(QSize(kToolIconSize, kToolIconSize));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);  // every command is given with the mouse
  button->setGeometry(from.Rect.X, from.Rect.Y, from.Rect.Width, from.Rect.Height);
  return button;
}

// A caption as a menu shows it: "&" stands for itself, not for a shortcut.
QString MenuCaption(const std::string& caption) {
  return FromUtf8(caption).replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace

TMainWindow::TMainWindow(IFileSystem& fileSystem, IDeviceQueries& devices,
                         IWindowDialogs& dialogs, TLanguage language, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), main_(*this, fileSystem, devices, language) {
  setObjectName(QStringLiteral("Main"));
  // The caption and the application title, which also captions every message box.
  setWindowTitle(TitleText());
  QGuiApplication::setApplicationDisplayName(TitleText());
  setFont(WindowFont(kFontPixels));
  // A fixed border that can still be maximised: the thin-frame style where the platform
  // has one; elsewhere the window at least never shrinks below its start size.
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);

  BuildToolbar();
  BuildPanel();
  BuildStatusBar();
  pop = new QMenu(this);
  pop->setObjectName(QStringLiteral("pop"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(RzToolbar1);
  layout->addWidget(RzPanel1, 1);
  layout->addWidget(RzStatusBar1);

  setMinimumSize(kStartWidth, kStartHeight);
  resize(kStartWidth, kStartHeight);
}

QString TMainWindow::TitleText() const { return FromUtf8(main_.Title()); }

void TMainWindow::BuildToolbar() {
  RzToolbar1 = new QFrame(this);
  RzToolbar1->setObjectName(QStringLiteral("RzToolbar1"));
  RzToolbar1->setFixedHeight(kToolbarHeight);
  RzToolbar1->setAutoFillBackground(true);

  for (const TToolButton& from : ToolButtons()) {
    QToolButton* button = MakeToolButton(
        from.DropDown ? new TDropDownToolButton(RzToolbar1) : new QToolButton(RzToolbar1), from,
        main_.Language());
    connect(button, &QToolButton::clicked, this,
            [this, command = from.Command] { CommandClicked(command); });
    switch (from.Command) {
      case TCommand::ChooseSource: RecBtn = static_cast<TDropDownToolButton*>(button); break;
      case TCommand::Save: SaveBtn = button; break;
      case TCommand::Start: button2 = button; break;
      case TCommand::Stop: Button1 = button; break;
      case TCommand::Recover: RecoverBtn = button; break;
    }
  }
}

void TMainWindow::BuildPanel() {
  RzPanel1 = new QFrame(this);
  RzPanel1->setObjectName(QStringLiteral("RzPanel1"));
  RzPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  RzPanel1->setLineWidth(1);
  const int frame = RzPanel1->frameWidth();

  Label1 = new QLabel(FromUtf8(InstructionText("\n", main_.Language())), RzPanel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setTextFormat(Qt::PlainText);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // 289 x 169 holds the ten lines in 宋体; a fallback font with taller lines gets the
  // height it needs, which still ends above the first link.
  Label1->setGeometry(frame, frame, kLabelWidth,
                      std::max(kLabelHeight, Label1->heightForWidth(kLabelWidth)));

  const QUrl address(QString::fromUtf8(branding::kWebAddress));
  QFont linkFont = WindowFont(kLinkFontPixels);
  linkFont.setUnderline(true);
  TUrlLabel** const labels[] = {&RzURLLabel2, &RzURLLabel3, &RzURLLabel1};
  const std::vector<TLink> links = Links(main_.Language());
  for (std::size_t i = 0; i < links.size(); ++i) {
    auto* link = new TUrlLabel(FromUtf8(links[i].Caption), address, dialogs_, RzPanel1);
    link->setObjectName(QString::fromLatin1(links[i].Name));
    link->setFont(linkFont);
    link->adjustSize();
    link->move(frame + kLinkLeft, frame + links[i].Top);
    *labels[i] = link;
  }

  memo2 = new QTextEdit(RzPanel1);
  memo2->setObjectName(QStringLiteral("memo2"));
  memo2->setReadOnly(true);
  memo2->setLineWrapMode(QTextEdit::WidgetWidth);
  memo2->setFixedWidth(kMemoWidth);

  // Label1 and the links keep their places; memo2 stays docked to the right edge.
  auto* layout = new QHBoxLayout(RzPanel1);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addStretch(1);
  layout->addWidget(memo2);
}

void TMainWindow::BuildStatusBar() {
  RzStatusBar1 = new QFrame(this);
  RzStatusBar1->setObjectName(QStringLiteral("RzStatusBar1"));
  RzStatusBar1->setFixedHeight(kStatusBarHeight);

  statusText_ = shownStatusText_ = main_.Say(texts::kInitialStatus);
  SegLabel = new QLabel(FromUtf8(shownStatusText_), RzStatusBar1);
  SegLabel->setObjectName(QStringLiteral("SegLabel"));
  SegLabel->setTextFormat(Qt::PlainText);
  SegLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  SegLabel->setFixedWidth(kSegLabelWidth);

  gg = new TGaugeWidget(RzStatusBar1);
  gg->setObjectName(QStringLiteral("gg"));

  auto* layout = new QHBoxLayout(RzStatusBar1);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(SegLabel);
  layout->addWidget(gg, 1);

  statusTimer_ = new QTimer(this);
  statusTimer_->setSingleShot(true);
  statusTimer_->setInterval(kStatusDelayMilliseconds);
  connect(statusTimer_, &QTimer::timeout, this, [this] { ShowStatusText(); });
}

void TMainWindow::ShowCentred() {
  if (const QScreen* screen = this->screen()) {
    const QRect available = screen->availableGeometry();
    move(available.center() - QPoint(width() / 2, height() / 2));
  }
  show();
}

void TMainWindow::RunCommand(const std::function<void()>& command) {
  if (const auto failure = RunForErrorDisplay(command)) {
    dialogs_.Error(TitleText(), FromUtf8(*failure));
  }
}

void TMainWindow::CommandClicked(TCommand command) {
  RunCommand([this, command] {
    switch (command) {
      case TCommand::ChooseSource: main_.RecBtnClick(); break;
      case TCommand::Save: main_.SaveBtnClick(); break;
      case TCommand::Start: main_.button2Click(); break;
      case TCommand::Stop: main_.Button1Click(); break;
      case TCommand::Recover: main_.RecoverBtnClick(); break;
    }
  });
  // The status text of the command's end shows at once, not a timer's run later.
  ShowStatusText();
  // A close request taken during a scan or a recovery: its files are finished, so the
  // program ends now. Nested inside one, the outer command carries it out.
  if (main_.ClosesAfterCommand()) close();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  if (main_.FormCloseQuery()) {
    event->accept();
  } else {
    event->ignore();
  }
}

void TMainWindow::RequestTermination() {
  main_.Button1Click();
  close();
  // Dialogs and menus give way: cancelling them changes nothing, and the scan waits
  // while one is open. Bounded, in case one refuses to close.
  for (int i = 0; i < 8; ++i) {
    QWidget* open = QApplication::activePopupWidget();
    if (open == nullptr) open = QApplication::activeModalWidget();
    if (open == nullptr || open == this) break;
    open->close();
  }
}

void TMainWindow::AppendLogLine(const std::string& line) {
  // Plain text: a path with markup characters is shown as it is.
  QTextCursor cursor(memo2->document());
  cursor.movePosition(QTextCursor::End);
  if (!memo2->document()->isEmpty()) cursor.insertBlock();
  cursor.insertText(FromUtf8(line));
  memo2->setTextCursor(cursor);
  memo2->ensureCursorVisible();
}

void TMainWindow::SetStatusText(const std::string& text) {
  statusText_ = text;
  if (!statusTimer_->isActive()) statusTimer_->start();
}

void TMainWindow::ShowStatusText() {
  statusTimer_->stop();
  if (statusText_ == shownStatusText_) return;
  shownStatusText_ = statusText_;
  SegLabel->setText(FromUtf8(shownStatusText_));
  ++statusTextShows_;
}

void TMainWindow::ShowGauge(const TGauge& gauge) { gg->SetGauge(gauge); }

void TMainWindow::ShowMessage(const std::string& text) {
  // The box opens over the figures as they are now: the completion over the final count.
  ShowStatusText();
  dialogs_.Message(TitleText(), FromUtf8(text), false);
}

bool TMainWindow::AskYesNo(const std::string& text) {
  ShowStatusText();
  return dialogs_.Question(TitleText(), FromUtf8(text));
}

void TMainWindow::ShowSelfClosingMessage(const std::string& text) {
  ShowStatusText();
  dialogs_.Message(TitleText(), FromUtf8(text), true);
}

void TMainWindow::ProcessPendingMessages() { QCoreApplication::processEvents(); }

void TMainWindow::SetStartEnabled(bool enabled) { button2->setEnabled(enabled); }

void TMainWindow::SetRecoverEnabled(bool enabled) { RecoverBtn->setEnabled(enabled); }

std::optional<std::string> TMainWindow::ShowFolderDialog() {
  const std::optional<QString> folder = dialogs_.FolderDialog(this);
  if (!folder) return std::nullopt;
  return folder->toStdString();
}

bool TMainWindow::OpenDocument(const std::string& path) {
  return dialogs_.OpenUrl(QUrl::fromLocalFile(FromUtf8(path)));
}

void TMainWindow::ClearSourceMenu() { pop->clear(); }

void TMainWindow::AddSourceMenuEntry(const std::string& name, const std::string& caption,
                                     int imageIndex) {
  QAction* entry = pop->addAction(quillon::MenuEntryIcon(imageIndex), MenuCaption(caption));
  entry->setObjectName(FromUtf8(name));
  entry->setData(QByteArray::fromStdString(name));
}

void TMainWindow::AddSourceMenuSeparator() { pop->addSeparator(); }

std::optional<std::string> TMainWindow::ShowSourceMenu() {
  const QPoint belowButton = RecBtn->mapToGlobal(QPoint(0, RecBtn->height()));
  const QAction* chosen = dialogs_.PopupMenu(*pop, belowButton);
  if (chosen == nullptr || chosen->isSeparator()) return std::nullopt;
  return chosen->data().toByteArray().toStdString();
}

void TMainWindow::ClearOpenDialog() {
  od.Filter.clear();
  od.DefaultExtension.clear();
  od.FileName.clear();
}

std::optional<std::string> TMainWindow::ShowOpenDialog() {
  od.Kind = TFileDialogSettings::TKind::Open;
  const std::optional<QString> path = dialogs_.FileDialog(this, od);
  if (!path) return std::nullopt;
  od.FileName = *path;
  return path->toStdString();
}

std::optional<std::string> TMainWindow::ShowSaveDialog(const std::string& fileName) {
  sd.Kind = TFileDialogSettings::TKind::Save;
  sd.Filter.clear();
  sd.DefaultExtension.clear();
  sd.ConfirmOverwrite = true;  // a scan replaces the chosen file: the system asks first
  sd.FileName = FromUtf8(fileName);
  const std::optional<QString> path = dialogs_.FileDialog(this, sd);
  if (!path) return std::nullopt;
  sd.FileName = *path;
  return path->toStdString();
}

}  // namespace quillon
