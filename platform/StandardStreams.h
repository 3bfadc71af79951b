// Start-up of a program that may be run unattended: a scheduler or service manager can start it
// with standard input, output or error closed. The first descriptors the program opens would
// then take their numbers, and a message meant for standard error would land in a pipe, a
// socket or a log file.
#pragma once

namespace vexil {

// Opens /dev/null on each of descriptors 0 to 2 that is closed. Call it first in main, before
// anything else is opened. Returns false when one of them cannot be opened (the program should
// then end, since nothing it writes can be trusted to go where it is meant).
bool OpenStandardStreams();

}  // namespace vexil
