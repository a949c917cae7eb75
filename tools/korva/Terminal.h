#pragma once

// What the tool needs of the terminal, the console and the process's
// standard streams, one file per system (TerminalLinux.cpp,
// TerminalWindows.cpp): the words of the command line, streams that pass
// bytes unchanged, Ctrl+C, whether a stream is a terminal and how wide it
// is, and reading standard input without waiting longer than asked.

#include <string>
#include <vector>

namespace korva
{

namespace tool
{

namespace terminal
{

// The arguments after the program's name, as UTF-8. (Windows hands main()
// its arguments in the console's code page; the program's own are read.)
std::vector<std::string> arguments (int argc, char** argv);

// Called first. Standard input, output and error then pass bytes exactly as
// written, so that the MIDI, JSON and text the tool writes are the same on
// every system (Windows would write "\r\n" for "\n"), and a console shows
// UTF-8 text as such.
void prepareStandardStreams();

// Calls `handler` when the user or the system asks the command to end:
// Ctrl+C, and on Linux SIGTERM and SIGHUP (the terminal went away), on
// Windows Ctrl+Break and the closing of the console window. The handler runs
// in a signal handler or on a thread of its own, so it may only touch
// atomics. The first call installs it; later calls change nothing.
void onInterrupt (void (*handler)());

enum class Stream
{
    kInput,
    kOutput,
    kError
};

// Whether the stream is a terminal (a console on Windows) rather than a
// file, a pipe or the null device.
bool isTerminal (Stream stream);

// How many columns wide the terminal standard output shows in; 0 when it is
// no terminal, or does not say.
int outputColumns();

// What, written to standard error, takes the cursor to the start of the
// line and erases it (a progress bar's line).
std::string eraseLine();

enum class Input
{
    kByte,      // `byte` holds it
    kEnd,       // no more will come
    kNothingYet // nothing came in time (or a signal came first)
};

// Waits up to timeoutMs for a byte of standard input.
Input readByte (int timeoutMs, char& byte);

} // namespace terminal

} // namespace tool

} // namespace korva
