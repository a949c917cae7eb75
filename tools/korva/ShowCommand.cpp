// korva show: the piano roll of a pattern as the PATTERN page's preview shows
// it, drawn with text characters, read from the very MIDI file a render or a
// drag gives.

#include "core/conversion/PatternConverter.h"
#include "core/conversion/PatternPreview.h"
#include "core/device/DeviceMessages.h"
#include "tools/korva/DeviceCommands.h"
#include "tools/korva/PatternCommands.h"
#include "tools/korva/Terminal.h"
#include "tools/korva/ToolFiles.h"

#include <cstdlib>
#include <iostream>

namespace korva
{

namespace tool
{

namespace
{

const std::vector<int> kShowBarCounts{1, 2, 4, 8, 16, 32};
constexpr int kShowDefaultBars = 4;
constexpr int kDefaultColumns = 80;

// The terminal's width, else $COLUMNS, else 80 columns.
int outputColumns()
{
    if (const int columns = terminal::outputColumns(); columns > 0)
        return columns;
    const int columns = juce::String (std::getenv ("COLUMNS")).getIntValue();
    return columns > 0 ? columns : kDefaultColumns;
}

juce::String previewJson (const PatternPreview& preview)
{
    juce::String notes;
    for (const PreviewNote& note : preview.getNotes())
    {
        notes << (notes.isEmpty() ? "" : ", ") << "[" << note.pitch << ", " << note.start << ", " << note.length << ", "
              << note.velocity << "]";
    }
    juce::String controllers;
    for (int c : preview.getControllers())
        controllers << (controllers.isEmpty() ? "" : ", ") << c;
    return "{\"bars\": " + juce::String (preview.getBarCount()) + ", \"notes\": [" + notes + "], \"controllers\": [" +
           controllers + "], \"summary\": " + juce::JSON::toString (juce::String (preview.summary (true))) + "}";
}

int printPreview (const juce::File& midiFile, int bars, const Arguments& args, const juce::String& subject)
{
    juce::MemoryBlock bytes;
    PatternPreview preview;
    if (!midiFile.loadFileAsData (bytes) ||
        !preview.read (static_cast<const uint8_t*> (bytes.getData()), bytes.getSize(), bars))
        return fail (subject, "the rendered MIDI file cannot be read", kExitFailure);

    if (args.has ("--json"))
    {
        std::cout << previewJson (preview).toStdString() << std::endl;
    }
    else
    {
        const bool ascii = args.has ("--ascii") || ! terminal::isTerminal (terminal::Stream::kOutput);
        for (const std::string& line : renderPianoRoll (preview, outputColumns(), ascii))
            std::cout << line << '\n';
        std::cout.flush();
    }
    return std::cout.good() ? kExitOk : fail ("standard output", "cannot write", kExitFailure);
}

} // namespace

int runShow (const Arguments& args)
{
    int bars = kShowDefaultBars;
    juce::String error;
    if (!readBarCount (args, "--bars", kShowBarCounts, kShowDefaultBars, bars, error))
        return failLine (error, kExitUsage);

    const bool fromDevice = args.has ("--device");
    if (fromDevice == !args.positionals.empty())
        return failLine ("korva show: give either a pattern file or --device", kExitUsage);

    if (fromDevice)
    {
        if (args.has ("--info"))
            return failLine ("korva show: --info is taken from the KORVA with --device", kExitUsage);
        return withCurrentPatternFile (bars, [&] (const juce::File& midiFile)
                                       { return printPreview (midiFile, bars, args, "KORVA"); });
    }

    const juce::String patternPath = args.positionals[0];
    int exitCode = kExitOk;
    PatternInfo info;
    juce::MemoryBlock payload;
    if (!readInfoOption (args, info, exitCode) || !readPatternPayload (patternPath, payload, exitCode))
        return exitCode;

    juce::TemporaryFile midi (".mid");
    const PatternToMidiResult result = convertPatternToMidiFile (static_cast<const uint8_t*> (payload.getData()),
                                                                 payload.getSize(), info, bars, midi.getFile());
    if (result != kMidiFileWritten)
        return fail (patternPath, devicemessages::patternToMidiFailure (result), kExitFailure);
    return printPreview (midi.getFile(), bars, args, patternPath);
}

} // namespace tool

} // namespace korva
