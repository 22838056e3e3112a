#pragma once
// What the command line needs from the console of its platform: its arguments as text,
// output that shows Chinese and paths correctly, and Ctrl-C as a request to stop.

#include <cstdio>
#include <string>
#include <vector>

namespace quillon {

// The program's arguments as UTF-8, the program's name first. On Windows they are taken
// from the wide command line, so a name the ANSI code page cannot hold arrives whole and
// can be refused clearly instead of arriving with '?' in its place.
std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv);

// Makes the console show the program's UTF-8 output (Windows: the console's code page).
void UseUtf8Console();

// From now on Ctrl-C, a termination request and a hang-up (the terminal closed; Windows: the
// console window closed) only set a flag, read by StopWasRequested: the scan stops at its
// next chunk, or at the next read of a failing one, and finishes its file.
void InstallStopRequestHandler();
bool StopWasRequested();

// Whether the stream is a terminal (a console window), where a progress line may be drawn.
bool IsTerminal(std::FILE* stream);

}  // namespace quillon
