#pragma once
// What the command line needs from the console of its platform: its arguments as text,
// output that shows Chinese and paths correctly, and Ctrl-C as a request to stop.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// The program's arguments as UTF-8, the program's name first. On Windows they are taken
// from the wide command line, so a name the ANSI code page cannot hold arrives whole and
// can be refused clearly instead of arriving with '?' in its place.
std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv);

// Prepares the console windows behind stdout and stderr, once at start-up. Windows: their
// code page is left as it is (other programs in the same window go on showing their own
// text); escape sequences are switched on where the console can take them, and switched
// back off when the program ends.
void PrepareConsole();

// Writes UTF-8 text to stdout or stderr. A console window gets it as UTF-16 through the
// console's own call (Windows), whatever its code page; a pipe or a file gets the bytes.
void WriteText(std::FILE* stream, std::string_view text);
// printf into WriteText.
#if defined(__MINGW32__)
void ConsolePrintf(std::FILE* stream, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));  // mingw's own printf, not msvcrt's
#else
void ConsolePrintf(std::FILE* stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
#endif

// From now on Ctrl-C, a termination request and a hang-up (the terminal closed; Windows: the
// console window closed) only set a flag, read by StopWasRequested: the scan stops at its
// next chunk, or at the next read of a failing one, and finishes its file.
void InstallStopRequestHandler();
bool StopWasRequested();

// Whether the stream is a terminal (a console window), where a progress line may be drawn.
bool IsTerminal(std::FILE* stream);
// Whether that terminal takes escape sequences ("\033[K" clears to the end of the line); a
// classic Windows console shows them as "←[K".
bool TerminalTakesEscapes(std::FILE* stream);

}  // namespace quillon
