// Opening a page from a window run as root: as the person pkexec or sudo names, in their
// desktop session, never as root, and not at all where nobody else started the program.

#include <QtTest>

#include "gui_qt/desktop_user.h"

namespace quillon {

class TDesktopUserTest : public QObject {
  Q_OBJECT

 private:
  static TProcessFacts RootStartedBy(const QString& variable, const QString& uid) {
    TProcessFacts facts;
    facts.Root = true;
    facts.Environment = {{variable, uid}, {"DISPLAY", ":0"}, {"XAUTHORITY", "/home/ann/.Xauthority"}};
    facts.Account = [](unsigned id) -> std::optional<TAccount> {
      if (id == 1000) return TAccount{"ann", "/home/ann"};
      return std::nullopt;
    };
    return facts;
  }

 private slots:
  void OpensAsThePersonPkexecNames() {
    const QUrl url = QUrl::fromLocalFile("/media/usb/恢复 1/report.html");
    const std::optional<TCommand> command =
        OpenAsDesktopUserCommand(url, RootStartedBy("PKEXEC_UID", "1000"));
    QVERIFY(command.has_value());
    QCOMPARE(command->Program, QString("runuser"));
    const QStringList expected = {
        "-u", "ann", "--", "env", "-i", "HOME=/home/ann", "USER=ann", "LOGNAME=ann",
        "PATH=/usr/local/bin:/usr/bin:/bin", "XDG_RUNTIME_DIR=/run/user/1000",
        "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus", "DISPLAY=:0",
        "XAUTHORITY=/home/ann/.Xauthority", "xdg-open",
        "file:///media/usb/%E6%81%A2%E5%A4%8D%201/report.html"};
    QCOMPARE(command->Arguments, expected);
    // sudo says it the same way.
    const std::optional<TCommand> sudo =
        OpenAsDesktopUserCommand(url, RootStartedBy("SUDO_UID", "1000"));
    QVERIFY(sudo.has_value());
    QCOMPARE(sudo->Arguments, expected);
  }

  void NothingWhereNoOtherPersonStartedIt() {
    const QUrl url = QUrl::fromLocalFile("/tmp/report.html");
    TProcessFacts notRoot = RootStartedBy("PKEXEC_UID", "1000");
    notRoot.Root = false;  // the desktop opens it as ever
    QVERIFY(!OpenAsDesktopUserCommand(url, notRoot));
    QVERIFY(!OpenAsDesktopUserCommand(url, RootStartedBy("PKEXEC_UID", "0")));
    QVERIFY(!OpenAsDesktopUserCommand(url, RootStartedBy("PKEXEC_UID", "1000x")));
    QVERIFY(!OpenAsDesktopUserCommand(url, RootStartedBy("PKEXEC_UID", "1001")));  // no account
    QVERIFY(!OpenAsDesktopUserCommand(url, RootStartedBy("OTHER", "1000")));
  }
};

}  // namespace quillon

QTEST_MAIN(quillon::TDesktopUserTest)
#include "desktop_user_test.moc"
