#pragma once

// A project saved from the KORVA is named after the device's name for it,
// which may hold anything: the name is mended into a file name the system
// takes. Each rule replaces a character by "_" or adds one "_", so that the
// name stays readable and the same device name always gives the same file
// name. Two names may give the same file name ("a/b" and "a\b" both give
// "a_b"): the folder then numbers the later file (ProjectDataManager), as it
// does for any name that is taken.

#include <juce_core/juce_core.h>

namespace korva
{

namespace projectfilename
{

// On every system: "/" and "\" (the name would name another folder), the
// control characters (1 to 31) and DEL become "_".
juce::String mendForEverySystem (const juce::String& name);

// Windows's rules for a whole file name:
// - each of < > : " / \ | ? * and the control characters 1 to 31 becomes "_";
// - a name whose part before the first dot (spaces at its end left out) is a
//   device name (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, and COM or
//   LPT with a superscript 1, 2 or 3), in any case, gets "_" after that
//   part: "con.prj" becomes "con_.prj", "Com1" becomes "Com1_";
// - a name that ends in a dot or a space gets "_" at its end: "Live." becomes
//   "Live._";
// - the empty name becomes "_".
juce::String mendForWindows (const juce::String& name);

// The rules of the system the program runs on: mendForEverySystem on Linux,
// and then mendForWindows on Windows (ProjectFileNameLinux.cpp,
// ProjectFileNameWindows.cpp).
juce::String mendForThisSystem (const juce::String& name);

} // namespace projectfilename

} // namespace korva
