// Writes the starting corpora of the fuzz targets into <folder>/<target>/:
// real files and exchanges made by the program's own writers and by the
// virtual KORVA, so that every target starts from inputs its reader accepts.
//   make-fuzz-seeds <folder>

#include "core/conversion/PatternConverter.h"
#include "core/infra/ValueTreeTools.h"
#include "core/patterns/PatternInfo.h"
#include "core/settings/DirectorySetting.h"
#include "tools/korva-sim/DemoContent.h"
#include "tools/korva-sim/DeviceLink.h"
#include "tools/korva-sim/DeviceModel.h"

#include <iostream>

namespace
{
using namespace korva;
using Bytes = std::vector<uint8_t>;

class Seeds
{
public:
    Seeds (const juce::File& root, const char* target) : m_folder (root.getChildFile (target))
    {
        m_folder.createDirectory();
    }

    void add (const Bytes& bytes)
    {
        const auto file = m_folder.getChildFile (juce::String::formatted ("seed-%03d", m_count++));
        if (!file.replaceWithData (bytes.data(), bytes.size()))
            throw std::runtime_error ("cannot write " + file.getFullPathName().toStdString());
    }

private:
    juce::File m_folder;
    int m_count = 0;
};

Bytes operator+ (Bytes a, const Bytes& b)
{
    a.insert (a.end(), b.begin(), b.end());
    return a;
}

Bytes bytesOf (const juce::MemoryBlock& block)
{
    const auto* p = static_cast<const uint8_t*> (block.getData());
    return Bytes (p, p + block.getSize());
}

Bytes u16 (std::size_t v)
{
    return {static_cast<uint8_t> (v >> 8), static_cast<uint8_t> (v)};
}

// MIDI: bar-count byte (0..3: 1 to 4 bars) and five controller numbers, then the file.
void midiSeeds (const juce::File& root, const juce::File& scratch)
{
    Seeds seeds (root, "fuzz_midi_reader");
    const Bytes cc{1, 7, 10, 11, 74};
    PatternInfo info;
    info.ccNumbers = {1, 7, 10, 11, 74};
    const auto file = scratch.getChildFile ("demo.mid");
    for (int style = 0; style < 4; ++style)
        for (int bars : {1, 2, 4})
        {
            const auto pattern = sim::makeDemoPattern (style, bars);
            if (convertPatternToMidiFile (pattern.data(), pattern.size(), info, bars, file) != kMidiFileWritten)
                throw std::runtime_error ("cannot write a demo MIDI file");
            juce::MemoryBlock written;
            file.loadFileAsData (written);
            seeds.add (Bytes{static_cast<uint8_t> (bars - 1)} + cc + bytesOf (written));
        }

    // Two tracks, running status, a system-exclusive message and metas.
    const Bytes track1{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xB0, 0x07, 0x40, 0x00, 0xFF, 0x2F, 0x00};
    const Bytes track2{0x00, 0xF0, 0x03, 0x43, 0x12, 0xF7, 0x00, 0x90, 0x3C, 0x64, 0x78, 0x40, 0x5A,
                       0x60, 0x3C, 0x00, 0x81, 0x70, 0x80, 0x40, 0x00, 0x00, 0xFF, 0x2F, 0x00};
    Bytes smf{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xE0};
    for (const auto& track : {track1, track2})
        smf = smf + Bytes{'M', 'T', 'r', 'k', 0, 0} + u16 (track.size()) + track;
    seeds.add (Bytes{3} + cc + smf);
}

// Projects: the pattern count the KORVA's list announced (0xFFFF: none), then the file.
void projectSeeds (const juce::File& root)
{
    Seeds seeds (root, "fuzz_project_files");
    const auto one = sim::makeDemoProject ("One", 1);
    const auto three = sim::makeDemoProject ("Three", 3);
    seeds.add (u16 (0xFFFF) + one);
    seeds.add (u16 (3) + three);
    seeds.add (u16 (2) + three);
    seeds.add (u16 (0xFFFF) + Bytes (three.begin(), three.begin() + 4096 + 100));
}

// Settings: the mode byte, then tree bytes or a whole file.
void settingsSeeds (const juce::File& root, const juce::File& scratch)
{
    Seeds seeds (root, "fuzz_settings");
    DirectorySetting setting;
    setting.dataDirectory = "/home/user/MELDRA/KORVA";
    const auto tree = setting.toValueTree (true);

    juce::MemoryOutputStream plain;
    tree.writeToStream (plain);
    const auto treeBytes = bytesOf (plain.getMemoryBlock());
    seeds.add (Bytes{0} + treeBytes);
    seeds.add (Bytes{2} + treeBytes);
    seeds.add (Bytes{3} + treeBytes);

    for (bool packed : {false, true})
    {
        const auto file = scratch.getChildFile ("DirectorySetting.bin");
        file.deleteFile();
        if (!infra::ValueTreeTools::valueTreeToFile (tree, file, packed))
            throw std::runtime_error ("cannot write a settings file");
        juce::MemoryBlock written;
        file.loadFileAsData (written);
        seeds.add (Bytes{1} + bytesOf (written));
    }
}

// The sequencer: request byte, its argument, then events (see FuzzDeviceAnswers.cpp).
// The KORVA's answers come from the virtual KORVA.
void deviceSeeds (const juce::File& root, sim::DeviceModel& model)
{
    Seeds seeds (root, "fuzz_device_answers");
    auto answer = [&] (uint8_t type, Bytes payload)
    {
        const auto reply = model.answer ({type, std::move (payload)});
        const Bytes bytes = reply ? reply->payload : Bytes{};
        return Bytes{0x00} + u16 (bytes.size()) + bytes;
    };
    const Bytes status1{0x00, 0x00, 0x01, 0x01};

    seeds.add (Bytes{0, 0} + answer (0x00, {}));
    seeds.add (Bytes{6, 0} + answer (0x30, {}));
    seeds.add (Bytes{7, 0} + answer (0x31, {}));
    seeds.add (Bytes{10, 0} + answer (0x81, {}));
    seeds.add (Bytes{8, 0} + answer (0x32, {'3'}) + status1);
    seeds.add (Bytes{4, 2} + answer (0x04, u16 (2)) + status1 + status1 + status1 + status1);
    seeds.add (Bytes{1, 1} + Bytes{0x00, 0x00, 0x02, 0x01, 0x32} + status1 + Bytes{0x00, 0x00, 0x01, 0x03});

    // An import: the header, each pattern block, the end.
    Bytes import{3, 0};
    import = import + answer (0x03, {0, 0});
    for (int block = 0; block < 4; ++block)
        import = import + answer (0x03, {0, 1});
    seeds.add (import);

    // A project pushed unasked.
    const auto push = model.makePush();
    if (push)
        seeds.add (Bytes{11, 0, 0x80, 0x80} + u16 (push->payload.size()) + push->payload);
}

// korva-sim: switches, level, then messages or reports (see FuzzSimRequests.cpp).
void simSeeds (const juce::File& root)
{
    Seeds seeds (root, "fuzz_sim_requests");
    auto message = [] (uint8_t type, const Bytes& payload) { return Bytes{type} + u16 (payload.size()) + payload; };

    seeds.add (Bytes{0, 0} + message (0x00, {}) + message (0x30, {}) + message (0x31, {}) + message (0x81, {}));
    seeds.add (Bytes{0, 0} + message (0x01, {0, 1}) + message (0x01, {1}) + message (0x01, {1}) + message (0x01, {1}) +
               message (0x01, {1}));
    Bytes rename{0, 1};
    rename.resize (35);
    std::memcpy (rename.data() + 2, "Renamed", 7);
    seeds.add (Bytes{0, 0} + message (0x02, rename) + message (0x02, {1}));
    seeds.add (Bytes{0, 0} + message (0x03, {0, 0}) + message (0x03, {0, 1}) + message (0x03, {0, 2}));

    const auto project = sim::makeDemoProject ("Sent", 2);
    Bytes exportRun = Bytes{0, 0} + message (0x04, u16 (2));
    for (std::size_t at = 0; at < project.size(); at += 4096)
        exportRun = exportRun + message (0x05, Bytes (project.begin() + (long)at, project.begin() + (long)at + 4096));
    seeds.add (exportRun + message (0x05, {0}));

    const auto pattern = sim::makeDemoPattern (1, 0);
    seeds.add (Bytes{0, 0} + message (0x32, {'3'}) + message (0x33, pattern));

    // The same requests as reports: a start message, then data messages of 60 bytes.
    auto reports = [] (uint8_t type, const Bytes& payload)
    {
        Bytes out;
        sim::MessageBytes start{};
        start[0] = sim::kStart;
        start[1] = type;
        const auto length = static_cast<uint32_t> (payload.size());
        for (int i = 0; i < 4; ++i)
            start[4 + i] = static_cast<uint8_t> (length >> (8 * i));
        const auto crc = sim::crc16 (payload.data(), payload.size());
        start[8] = static_cast<uint8_t> (crc);
        start[9] = static_cast<uint8_t> (crc >> 8);
        out = out + Bytes{1} + Bytes (start.begin(), start.end());
        uint16_t packet = 1;
        for (std::size_t at = 0; at < payload.size(); at += sim::kPacketPayload, ++packet)
        {
            sim::MessageBytes data{};
            data[0] = sim::kData;
            data[1] = type;
            data[2] = static_cast<uint8_t> (packet);
            data[3] = static_cast<uint8_t> (packet >> 8);
            const auto n = std::min (sim::kPacketPayload, payload.size() - at);
            std::copy (payload.begin() + (long)at, payload.begin() + (long)(at + n), data.begin() + 4);
            out = out + Bytes{1} + Bytes (data.begin(), data.end());
        }
        return out;
    };
    seeds.add (Bytes{0, 1} + reports (0x01, {0, 1}) + reports (0x01, {1}));
    seeds.add (Bytes{0, 1} + reports (0x33, pattern));
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: make-fuzz-seeds <folder>\n";
        return 2;
    }
    try
    {
        const juce::File root (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
        root.deleteRecursively();
        root.createDirectory();
        const auto scratch = root.getChildFile (".scratch");
        scratch.createDirectory();

        sim::DeviceModel model ({scratch.getChildFile ("store").getFullPathName().toStdString(), 4096, {}});
        std::string error;
        if (!model.open (error))
            throw std::runtime_error (error);

        midiSeeds (root, scratch);
        projectSeeds (root);
        settingsSeeds (root, scratch);
        deviceSeeds (root, model);
        simSeeds (root);
        scratch.deleteRecursively();
    }
    catch (const std::exception& e)
    {
        std::cerr << "make-fuzz-seeds: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
