// Start-up of a program that may be run unattended: a scheduler or service manager can start it
// with standard input, output or error closed. The first descriptors the program opens would
// then take their numbers, and a message meant for standard error would land in a pipe, a
// socket or a log file.
#pragma once

#include <string>

#include "platform/Reason.h"

namespace vexil {

// Opens /dev/null on each of descriptors 0 to 2 that is closed. Call it first in main, before
// anything else is opened. Returns false when one of them cannot be opened (the program should
// then end, since nothing it writes can be trusted to go where it is meant).
bool OpenStandardStreams();

// A program whose messages may go to a pipe that its reader has closed: writing to it then fails
// (and the message is lost) rather than ending the program. On POSIX SIGPIPE is ignored;
// Windows has no such signal, and a write there fails already.
void SurviveClosedPipes();

// A program that holds many descriptors at once (a fleet's pipes, a simulator's sockets) takes
// the hard limit as its own: the usual soft limit of 1,024 is the system's guess, not the
// administrator's ceiling. Windows has no such limit on handles.
void TakeHardDescriptorLimit();

// Writes `text` to descriptor `fd` that the starter handed down, and closes it: how a program
// started in the background says it is ready. On Windows `fd` is a descriptor of the C runtime.
// False, with the reason in `why`, when it cannot.
bool SayOnDescriptor(int fd, const std::string& text, Reason& why);

}  // namespace vexil
