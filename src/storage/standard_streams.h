#pragma once

namespace quillon {

// Opens the null device on every standard stream (input, output, error) that the program
// was started without. A closed one leaves its number free, and the next file opened takes
// it: the fragment file would then receive the log lines. Called once at start-up by every
// program, before anything else opens a file. Returns false when it could not be done.
bool OpenClosedStandardStreams();

// Makes a write to a pipe whose reader has gone (quillon-cli scan ... | head) fail like any
// other write instead of ending the program: a scan then still finishes its file.
void KeepRunningOnBrokenPipes();

}  // namespace quillon
