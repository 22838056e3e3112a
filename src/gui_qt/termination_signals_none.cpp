#include "gui_qt/termination_signals.h"

namespace quillon {

// The window's close request is the only way to end the program on this platform.
TTerminationSignals::TTerminationSignals(QObject* parent) : QObject(parent) {}

TTerminationSignals::~TTerminationSignals() = default;

}  // namespace quillon
