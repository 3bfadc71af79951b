// What a console program meets of its platform: its arguments, whether its streams are a
// terminal, writes that may fail, and the user's cancel command (SIGINT, SIGTERM and SIGHUP on
// POSIX; Ctrl-C, Ctrl-Break and a closed console window on Windows). The platform's side is in
// ConsolePosix.cpp and ConsoleWindows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vexil::console {

// Start-up, after OpenStandardStreams: output in UTF-8 (the messages are Japanese) with the
// terminal's control sequences for the progress bar, the same bytes on every platform (no CR
// added before LF), and a write past a file size limit failing with a reason instead of ending
// the program in the middle of a download.
void Prepare();

// The program's arguments in UTF-8; on Windows read from the UTF-16 command line, so that a path
// outside the console's code page arrives whole.
std::vector<std::string> Arguments(int argc, char** argv);

// Whether the stream is an interactive terminal (a console on Windows; the NUL device is not).
bool IsTerminal(std::FILE* stream);
// The width of the terminal the stream is, in columns; 0 when it cannot be told.
int TerminalColumns(std::FILE* stream);
// What takes a line drawn in place (`columns` wide, no line feed written yet) off the terminal,
// leaving the cursor at the start of that line: a carriage return and the erase-line sequence
// where the terminal reads escape sequences, else a carriage return, spaces over the line and
// another carriage return (a Windows console without virtual-terminal processing).
std::string EraseLine(std::FILE* stream, std::size_t columns);

// From now on the program is in charge of what it starts: the cancel command is held for
// TakeCancel instead of ending the program, and a write to a closed pipe fails with a reason.
// SIGHUP is among the cancels because a closed SSH session sends it; a closed console window is
// its Windows counterpart. A download must then be cancelled and recorded, not killed halfway
// with the print server left in download mode.
void CatchCancel();
// Whether a cancel has arrived since the last call.
bool TakeCancel();
// Waits up to `timeoutMs` for a cancel; true when one is pending (TakeCancel takes it).
bool WaitForCancel(int timeoutMs);
// What a wait on several things includes to end at a cancel: a descriptor (POSIX) or an event
// handle (Windows); -1 before CatchCancel.
std::intptr_t CancelWaitable();
// The cancel command from within the program, as if the user had given it.
void RaiseCancel();

// Reads a line from standard input without its line end; a cancel ends the reading early.
enum class LineRead { kLine, kEnd, kCancelled };
LineRead ReadLine(std::string& line);

}  // namespace vexil::console
