#include "tools/korva/PatternCommands.h"

#include "core/conversion/PatternConverter.h"
#include "core/device/DeviceMessages.h"
#include "tools/korva/DeviceCommands.h"
#include "tools/korva/FitReportOutput.h"
#include "tools/korva/PatternJson.h"
#include "tools/korva/ToolFiles.h"

#include <iostream>
#include <memory>

namespace korva
{

namespace tool
{

namespace
{

using namespace korva;

const std::vector<int> kRenderBarCounts{1, 2, 4, 8, 16, 32};
const std::vector<int> kDropBarCounts{1, 2, 4};
constexpr int kDefaultBars = 4;

} // namespace

// Without --info every lane sends controller 0 and every chord slot is empty.
bool readInfoOption (const Arguments& args, PatternInfo& info, int& exitCode)
{
    if (!args.has ("--info"))
        return true;

    const juce::String path = args.valueOr ("--info", {});
    juce::MemoryBlock data;
    juce::String reason;
    if (!readExactly (fileFromArgument (path), kPatternInfoSize, "a pattern-information payload", data, reason))
    {
        exitCode = fail (path, reason, kExitFailure);
        return false;
    }
    parsePatternInfo (static_cast<const uint8_t*> (data.getData()), data.getSize(), info);
    return true;
}

bool readPatternPayload (const juce::String& path, juce::MemoryBlock& data, int& exitCode)
{
    juce::String reason;
    if (readExactly (fileFromArgument (path), kPatternPayloadSize, "a pattern payload", data, reason))
        return true;
    exitCode = fail (path, reason, kExitFailure);
    return false;
}

namespace
{
// The MIDI file of midi2pattern and fit into a payload, with the bar count
// their options give and the lanes' controllers of --info, or else of `lanes`
// (which then says where the ones used came from).
bool convertMidiArgument (const Arguments& args, PatternPayload& payload, MidiFitReport* report, LaneSource& lanes,
                          int& exitCode)
{
    int bars = kDefaultBars;
    juce::String error;
    if (!readBarCount (args, "--bars", kDropBarCounts, kDefaultBars, bars, error))
    {
        exitCode = failLine (error, kExitUsage);
        return false;
    }
    PatternInfo info;
    if (!readInfoOption (args, info, exitCode))
        return false;
    if (args.has ("--info"))
        lanes = {LaneSource::kInfoFile, info.ccNumbers, args.valueOr ("--info", {})};
    else
        info.ccNumbers = lanes.controllers;

    const juce::String midiPath = args.positionals[0];
    const juce::File midiFile = fileFromArgument (midiPath);
    if (midiFile.isDirectory())
    {
        exitCode = fail (midiPath, "is a folder, not a file", kExitFailure);
        return false;
    }
    if (!midiFile.existsAsFile())
    {
        exitCode = fail (midiPath, "no such file", kExitFailure);
        return false;
    }
    const MidiReadResult read = convertMidiFileToPattern (midiFile, bars, info.ccNumbers, payload, report);
    if (read)
        return true;
    // A script that asked for JSON gets the reason as JSON too.
    if (args.has ("--json"))
        std::cout << formatJson (midiRefusalJson (read.reason)).toStdString() << std::endl;
    exitCode = fail (midiPath, midiRefusalText (read.reason), kExitFailure);
    return false;
}

int printFitReport (const Arguments& args, const MidiFitReport& report, const LaneSource& lanes)
{
    const juce::String text =
        args.has ("--json") ? formatJson (fitReportJson (report, lanes)) : fitReportText (report, lanes);
    std::cout << text.toStdString() << std::endl;
    return std::cout.good() ? kExitOk : fail ("standard output", "cannot write", kExitFailure);
}

} // namespace

int runRender (const Arguments& args)
{
    const juce::String patternPath = args.positionals[0];
    const juce::String outputPath = args.valueOr ("--output", {});
    if (outputPath.isEmpty())
        return failLine ("korva render: the output file is missing (-o OUT.mid)", kExitUsage);

    int bars = kDefaultBars;
    juce::String error;
    if (!readBarCount (args, "--bars", kRenderBarCounts, kDefaultBars, bars, error))
        return failLine (error, kExitUsage);

    int exitCode = kExitOk;
    PatternInfo info;
    juce::MemoryBlock payload;
    if (!readInfoOption (args, info, exitCode) || !readPatternPayload (patternPath, payload, exitCode))
        return exitCode;

    PatternToMidiResult result = kMidiFileWritten;
    juce::String reason;
    const bool written = writeThroughTemporary (
        fileFromArgument (outputPath),
        [&] (const juce::File& temporary, juce::String& why)
        {
            result = convertPatternToMidiFile (static_cast<const uint8_t*> (payload.getData()), payload.getSize(), info,
                                               bars, temporary);
            why = devicemessages::patternToMidiFailure (result);
            return result == kMidiFileWritten;
        },
        reason);
    if (written)
        return kExitOk;

    // What went wrong with the pattern is the pattern's; the rest is the output's.
    const bool patternAtFault =
        result == kPatternFormatOlder || result == kPatternFormatNewer || result == kRenderNotFinished;
    return fail (patternAtFault ? patternPath : outputPath, reason, kExitFailure);
}

int runMidiToPattern (const Arguments& args)
{
    const juce::String outputPath = args.valueOr ("--output", {});
    if (outputPath.isEmpty())
        return failLine ("korva midi2pattern: the output file is missing (-o PATTERN)", kExitUsage);

    // --json asks for the report too.
    const bool report = args.has ("--report") || args.has ("--json");
    MidiFitReport fit;
    auto payload = std::make_unique<PatternPayload>();
    int exitCode = kExitOk;
    // A file conversion does not depend on what is plugged in: without --info
    // the lanes are taken as controller 0.
    LaneSource lanes{LaneSource::kAssumed, {}, "no --info given"};
    if (!convertMidiArgument (args, *payload, report ? &fit : nullptr, lanes, exitCode))
        return exitCode;

    juce::String reason;
    if (!writeBytes (fileFromArgument (outputPath), payload->data(), payload->size(), reason))
        return fail (outputPath, reason, kExitFailure);
    return report ? printFitReport (args, fit, lanes) : kExitOk;
}

int runFit (const Arguments& args)
{
    // As a drop on the window would: without --info, the lanes of the KORVA
    // plugged in, when it can be asked.
    LaneSource lanes;
    if (!args.has ("--info"))
        lanes = lanesOfTheKorva();
    MidiFitReport fit;
    auto payload = std::make_unique<PatternPayload>();
    int exitCode = kExitOk;
    if (!convertMidiArgument (args, *payload, &fit, lanes, exitCode))
        return exitCode;
    return printFitReport (args, fit, lanes);
}

int runDump (const Arguments& args)
{
    const juce::String patternPath = args.positionals[0];
    int exitCode = kExitOk;
    juce::MemoryBlock payload;
    if (!readPatternPayload (patternPath, payload, exitCode))
        return exitCode;

    auto record = std::make_unique<PatternRecord>();
    switch (decodePattern (static_cast<const uint8_t*> (payload.getData()), payload.getSize(), *record))
    {
        case kDecodeOk:
            break;
        case kDecodeDeviceDataOld:
            return fail (patternPath, devicemessages::kDeviceDataOld, kExitFailure);
        case kDecodeAppDataOld:
            return fail (patternPath, devicemessages::kAppDataOld, kExitFailure);
        case kDecodeTooShort:
        default:
            return fail (patternPath, "not a pattern payload", kExitFailure);
    }

    std::cout << formatJson (patternToJson (*record)).toStdString() << std::endl;
    return std::cout.good() ? kExitOk : fail ("standard output", "cannot write", kExitFailure);
}

} // namespace tool

} // namespace korva
