#pragma once

namespace korva
{

// SIGTERM, SIGINT and SIGHUP end the program like its close button does: the
// handler only writes a byte to a pipe, and the message loop reacts to it.
// (Blocking the signals instead would pass the blocked mask on to the PDF
// viewer and other programs we start.)
namespace terminationsignals
{
// Installs the handlers; call first thing in main().
void install();
// The pipe's read end: readable once a termination was asked for; -1 if none.
int readFd();
// Empties the pipe.
void drain();
} // namespace terminationsignals

} // namespace korva
