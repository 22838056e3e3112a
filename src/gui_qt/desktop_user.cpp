#include "gui_qt/desktop_user.h"

namespace quillon {

std::optional<TCommand> OpenAsDesktopUserCommand(const QUrl& url, const TProcessFacts& facts) {
  if (!facts.Root || !facts.Account) return std::nullopt;
  const QString uidText = facts.Environment.value(
      "PKEXEC_UID", facts.Environment.value("SUDO_UID"));
  bool number = false;
  const unsigned uid = uidText.toUInt(&number);
  if (!number || uid == 0) return std::nullopt;
  const std::optional<TAccount> account = facts.Account(uid);
  if (!account || account->Name.isEmpty()) return std::nullopt;

  const QString runtime = "/run/user/" + QString::number(uid);
  QStringList environment = {
      "HOME=" + account->Home,
      "USER=" + account->Name,
      "LOGNAME=" + account->Name,
      "PATH=/usr/local/bin:/usr/bin:/bin",
      "XDG_RUNTIME_DIR=" + runtime,
      "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus",
  };
  // The session's display as the program was given it (pkexec keeps these two for a
  // window it allows); the language for the browser's own texts.
  for (const char* name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE"}) {
    const QString value = facts.Environment.value(name);
    if (!value.isEmpty()) environment.push_back(QString(name) + "=" + value);
  }
  TCommand command;
  command.Program = "runuser";
  command.Arguments = QStringList{"-u", account->Name, "--", "env", "-i"} + environment +
                      QStringList{"xdg-open", url.toString(QUrl::FullyEncoded)};
  return command;
}

}  // namespace quillon
