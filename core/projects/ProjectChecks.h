#pragma once

// The checks the program makes before it acts on a project, with the
// refusals it shows. The project page and the rename dialog show them in
// boxes; the korva tool prints them. Each check yields an empty text when
// the action may go ahead.

#include <juce_core/juce_core.h>

namespace korva
{

namespace projectchecks
{
constexpr const char* kRenameTitle = "Rename Project";
constexpr const char* kDeleteTitle = "Delete Project";

constexpr const char* kNameTooLong = "Please name project within 32 characters";
constexpr const char* kInvalidCharacters =
    "A project name cannot contain double-byte characters and the following characters (/\\?*:\"<> | ~).";
constexpr const char* kNameExists = "Could not rename this project. A project with the same name already exists.";
constexpr const char* kSameNameOnDevice =
    "Could not load this project. A project with the same name already exists.";

enum class ProjectAction
{
    kRename,
    kDelete
};

// A new name typed for a project: an unchanged name always passes; otherwise
// at most 32 characters, none the device cannot store and, for a project on
// the device, no other device project of exactly that name. An empty name
// passes: the caller ignores it.
juce::String checkNewName (const juce::String& newName, const juce::String& currentName, bool checkDeviceNames);

// Renaming or deleting device project `index`: the device must be connected,
// have the project (as of the last project list), and not be using it.
juce::String checkDeviceAction (ProjectAction action, bool connected, int index);

// Sending a project file of this name to the device: no device project may
// carry exactly that name.
juce::String checkExport (const juce::String& projectName);

// Renaming the project in a file, or deleting the file, failed for the
// system's reason `error` (errno): "Could not rename the project in <file>:
// Permission denied.", "Could not delete the project file <file>: Read-only
// file system."
juce::String cannotChangeFile (ProjectAction action, const juce::File& file, int error);

// A project file is whole when its header block carries the magic, a
// pattern block follows for every pattern its bitmaps announce (each
// starting with "seq"), and nothing else does. `expectedPatterns` (unless
// -1) is what the KORVA's list said. False and the reason when it is not.
bool checkProjectFile (const juce::File& file, int expectedPatterns, int& patterns, juce::String& reason);

// "Deleting project <name>. Are you sure?"
juce::String deleteQuestion (const juce::String& projectName);
} // namespace projectchecks

} // namespace korva
