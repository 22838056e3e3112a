#include <pwd.h>
#include <unistd.h>

#include <QProcessEnvironment>
#include <vector>

#include "gui_qt/desktop_user.h"

namespace quillon {

TProcessFacts ThisProcessFacts() {
  TProcessFacts facts;
  facts.Root = ::geteuid() == 0;
  const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"PKEXEC_UID", "SUDO_UID", "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY",
                           "LANG", "LANGUAGE"}) {
    if (environment.contains(name)) facts.Environment.insert(name, environment.value(name));
  }
  facts.Account = [](unsigned uid) -> std::optional<TAccount> {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
      return std::nullopt;
    }
    return TAccount{QString::fromLocal8Bit(found->pw_name), QString::fromLocal8Bit(found->pw_dir)};
  };
  return facts;
}

}  // namespace quillon
