#pragma once
// Turns the requests to end the program that come from outside the window (SIGTERM,
// SIGINT, SIGHUP on POSIX systems) into a Qt signal taken on the event loop, so that a
// running scan can finish its file before the program ends.

#include <QObject>

namespace quillon {

class TTerminationSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; one instance per program.
  explicit TTerminationSignals(QObject* parent = nullptr);
  ~TTerminationSignals() override;

 signals:
  void Requested();

 private:
  int readEnd_ = -1;
};

}  // namespace quillon
