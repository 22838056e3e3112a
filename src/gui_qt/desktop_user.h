#pragma once
// The person at the desktop behind a window that runs as root (started through pkexec or
// sudo, as reading disks needs): browsers refuse to run as root, so a page is opened as
// that person, with what their desktop session needs.

#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <optional>

namespace quillon {

struct TAccount {
  QString Name;
  QString Home;
};

// What decides how a page is opened, as this process finds it (ThisProcessFacts) or a test
// makes it up.
struct TProcessFacts {
  bool Root = false;                 // the effective user is root
  QMap<QString, QString> Environment;  // PKEXEC_UID, SUDO_UID, DISPLAY, ... where set
  // The account of a user id; nothing where there is none.
  std::function<std::optional<TAccount>(unsigned)> Account;
};

struct TCommand {
  QString Program;
  QStringList Arguments;
};

// The command that opens url with xdg-open as the user PKEXEC_UID (else SUDO_UID) names, in
// a clean environment holding their home and their desktop session's display, runtime
// folder and bus. Nothing where the process is not root, or no other user started it.
std::optional<TCommand> OpenAsDesktopUserCommand(const QUrl& url, const TProcessFacts& facts);

// This process's facts (on systems without root, never Root).
TProcessFacts ThisProcessFacts();

}  // namespace quillon
