#pragma once

// One line of a virtual KORVA's log on standard error: the program's name,
// the time of day to the millisecond, the text. Lines from several threads
// never mix.

#include <string>

namespace korva
{

namespace sim
{
void writeLogLine (const char* program, const std::string& text);
} // namespace sim

} // namespace korva
