#pragma once

// What the user is told about a device request that did not succeed. The
// pages show these texts in their boxes and status line; the korva tool
// prints them. One place, so that both always say the same.

#include "core/conversion/PatternConverter.h"
#include "core/infra/FileTools.h"

#include <juce_core/juce_core.h>

namespace korva
{

namespace devicemessages
{
constexpr const char* kBusy = "KORVA is busy.";
constexpr const char* kUpgradeFirmware = "Please upgrade the firmware of KORVA.";
constexpr const char* kNotEnoughSpace = "Cannot load the the project. Not enough space on KORVA.";
constexpr const char* kDeviceDataOld = "The pattern data of KORVA is old. Please upgrade the firmware of KORVA.";
constexpr const char* kAppDataOld = "The pattern data of KORVA Manager is old. Please upgrade KORVA Manager.";
constexpr const char* kMidiToPatternFailed = "Failed to convert MIDI file into pattern.";
// A KORVA that is there but has stopped answering, told once each time.
constexpr const char* kNotResponding = "KORVA does not answer. Unplug it and plug it in again.";

// A KORVA that is plugged in but cannot be opened: its node, the system's
// reason, and for a node this user may not open, the remedy (the udev rule).
juce::String cannotOpenDevice (const juce::String& devicePath, int error);

// What to do about a KORVA the system does not let this user open: each
// system has its own remedy.
juce::String accessDeniedRemedy();

// "Communication Error (0009)": a result code or transfer result that has no
// message of its own, as four digits.
juce::String communicationError (int result);

// A project transfer that failed on the computer's side, not the KORVA's:
// "Could not save the project in <folder>: <reason>." for an import the
// folder would not take, "Could not read the project file <file>:
// <reason>." for an export whose file could not be read to its end.
juce::String cannotSaveProject (const infra::FileFailure& failure);
juce::String cannotReadProject (const infra::FileFailure& failure);

// How a project import or export ended badly: the computer's failure when
// there is one (HidSequenceManager::getLocalFailure), otherwise what the
// result code says (requestFailure, communicationError).
juce::String importFailure (int result, const infra::FileFailure& local);
juce::String exportFailure (int result, const infra::FileFailure& local);

// Project list, delete, rename and project import: "KORVA is busy." for the
// busy code, otherwise a communication error.
juce::String requestFailure (int result);

// The room check before a project export: the busy and no-space messages,
// otherwise a communication error.
juce::String roomCheckFailure (int result);

// The status-line texts of the two list requests: "Get Project Info | ...".
juce::String projectInfoFailure (int result);
juce::String patternInfoFailure (int result);

// A pattern brought from the device as a MIDI file: conversion failures,
// the two pattern-format mismatches, otherwise a communication error.
juce::String patternImportFailure (int result);
// The same for a conversion made on this computer (the korva tool's); empty
// when the file was written.
juce::String patternToMidiFailure (PatternToMidiResult result);

// The device's check of a pattern about to be sent: the two pattern-format
// mismatches, otherwise a communication error.
juce::String patternCheckFailure (int result);
} // namespace devicemessages

} // namespace korva
