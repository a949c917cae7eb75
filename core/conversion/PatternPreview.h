#pragma once

// What a MIDI file made from the device's pattern holds, for looking at before
// it is dragged out: its notes on a pitch/time grid, the controllers it sends
// and a one-line summary. It is read from the very file the converter wrote,
// so the preview and the dragged file are one render.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korva
{

struct PreviewNote
{
    int pitch = 0;  // MIDI note number
    int start = 0;  // ticks from the start of the file
    int length = 0; // ticks
    int velocity = 0;

    bool operator== (const PreviewNote& other) const
    {
        return pitch == other.pitch && start == other.start && length == other.length && velocity == other.velocity;
    }
};

class PatternPreview
{
public:
    // Reads a Standard MIDI File of `barCount` bars (480 ticks per quarter
    // note, a bar of 16 sixteenths). False, with the preview left empty, when
    // the bytes are not a MIDI file; nothing is read beyond `size`.
    bool read (const uint8_t* data, std::size_t size, int barCount);

    int getBarCount() const noexcept { return m_barCount; }
    int getTicksPerBar() const noexcept { return m_ticksPerBar; }
    // Notes in the order they start (then by pitch, length and velocity).
    const std::vector<PreviewNote>& getNotes() const noexcept { return m_notes; }
    // The controller numbers the file sends, ascending, each once.
    const std::vector<int>& getControllers() const noexcept { return m_controllers; }
    // The lowest and highest note played; -1 without notes.
    int getLowestNote() const noexcept { return m_lowest; }
    int getHighestNote() const noexcept { return m_highest; }

    // "4 bars · 37 notes · 2 controller lanes" (a middle dot, or " - " in ASCII).
    std::string summary (bool ascii = false) const;
    // "C2 – G4" (or "C2 - G4" in ASCII); empty without notes.
    std::string range (bool ascii = false) const;

private:
    int m_barCount = 0;
    int m_ticksPerBar = 1920;
    std::vector<PreviewNote> m_notes;
    std::vector<int> m_controllers;
    int m_lowest = -1;
    int m_highest = -1;
};

// "C4" for note 60, "C#4", ... "G9" for 127, "C-1" for 0.
std::string previewNoteName (int note);

// The piano roll as text lines of at most `width` characters where the width
// allows (a column per bar at least): a row per pitch from the highest note to
// the lowest, named at the left, time across with a bar line at each bar, and
// the summary line last. Block characters unless `ascii`.
std::vector<std::string> renderPianoRoll (const PatternPreview& preview, int width, bool ascii);

} // namespace korva
