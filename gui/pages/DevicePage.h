#pragma once

// What the pages that poll the KORVA every second while shown (PROJECT and
// PATTERN) do when they are shown or hidden.

#include "core/device/HidSequenceManager.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace korva
{

// Shown: the page takes the keyboard (Ctrl+PageUp/PageDown reach the tab bar
// through it), the status line is cleared and `refresh` brings the page up to
// date. Hidden: a poll still waiting for its turn is dropped, as it would
// only refresh a page nobody sees.
void devicePageTransitioned (juce::Component& page, bool shown, HidSequenceManager& sequencer,
                             const std::function<void()>& refresh);

// The poll's timer runs only while there is something to ask: the page shown
// and a KORVA connected. Otherwise it rests, and an idle program sleeps.
void keepPolling (juce::Timer& poll, bool shown, bool connected, int periodMs);

} // namespace korva
