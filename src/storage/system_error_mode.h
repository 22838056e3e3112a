#pragma once

namespace quillon {

// Keeps the system from stopping the program with its own error boxes: on Windows, a
// volume query on an empty card reader or CD drive would otherwise raise the "no disk" box
// and wait for a click. Called once at start-up by every program. Nothing elsewhere.
void SuppressSystemErrorBoxes();

}  // namespace quillon
