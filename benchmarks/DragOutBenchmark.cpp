// The wait a user feels when dragging a MIDI file out of the PATTERN page:
// from the first drag movement to the prepared file, through the whole
// program (page, request sequencer, transport, access layer) and a virtual
// KORVA that answers with a dense pattern. Beside it, its floor: the 50 ms a
// request waits after it was reserved, the bare protocol exchange (a client
// that only writes and blocks on each report) and the render of the pattern
// into the MIDI file.
//
// Each benchmark is one timed run of many gestures; the medians are reported
// as counters (milliseconds), and the benchmark's own time is the median wait.

#include "benchmarks/BareKorvaClient.h"
#include "core/device/HidDeviceManager.h"
#include "core/device/HidSequenceRequestor.h"
#include "core/hidlink/HidBackend.h"
#include "core/hidlink/HidLink.h"
#include "core/patterns/PatternRecord.h"
#include "gui/pages/PatternView.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <stdlib.h>

namespace juce
{
// The message loop's own wait: blocks until the next message or event (at most
// 2 s). JUCE's runDispatchLoopUntil sleeps a millisecond whenever nothing is
// pending, which the program's loop never does: timed here, that sleep would
// be counted as part of the wait.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce

namespace korva
{

namespace
{
constexpr int kGestures = 41;
constexpr std::uint8_t kPatternInfoType = 0x30;
constexpr std::uint8_t kImportPatternType = 0x31;

// 8 notes and 5 controller values on every step of 4 bars, two notes a whole
// bar long: a render that keeps many notes sounding.
std::vector<std::uint8_t> densePattern()
{
    korva::PatternRecord record;
    korva::makeEmptyPattern (record);
    record.block.barCount = 4;
    for (int step = 0; step < korva::kStepCount; ++step)
    {
        for (int slot = 0; slot < korva::kSlotCount; ++slot)
        {
            const int added =
                korva::addNoteToStep (record.block, step, slot % korva::kSubPositionCount,
                                      (std::uint8_t) (36 + slot * 7 + step % 5), (std::uint8_t) (40 + slot * 10));
            if (added >= 0)
                record.block.notes[step][added].length = (std::uint16_t) (slot < 6 ? 3 : 127);
        }
        for (int lane = 0; lane < korva::kLaneCount; ++lane)
            korva::setStepCcValue (record.block, step, lane, (std::uint8_t) ((step * 7 + lane) % 128));
    }
    korva::PatternPayload payload;
    korva::encodePattern (record, payload);
    return {payload.begin(), payload.end()};
}

std::vector<std::uint8_t> patternInfo()
{
    std::vector<std::uint8_t> info (20, 0);
    info[0] = 3;
    info[1] = 12;
    info[2] = 1;
    info[3] = 7;
    info[4] = 10;
    info[5] = 11;
    info[6] = 74;
    return info;
}

std::string makeFolder()
{
    char pattern[] = "/tmp/korva-dragout-XXXXXX";
    const char* folder = ::mkdtemp (pattern);
    return folder != nullptr ? folder : "";
}

std::unique_ptr<korva::sim::VirtualKorva> startDevice (const std::string& folder)
{
    korva::sim::Options options;
    options.folder = folder;
    options.name = "korva.sock";
    auto device = std::make_unique<korva::sim::VirtualKorva> (options);
    device->setHandler (kImportPatternType, korva::sim::fixedAnswer ({kImportPatternType, densePattern()}));
    device->setHandler (kPatternInfoType, korva::sim::fixedAnswer ({kPatternInfoType, patternInfo()}));
    std::string error;
    if (!device->start (error))
        return nullptr;
    return device;
}

double median (std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort (values.begin(), values.end());
    const auto n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double nowMs()
{
    return juce::Time::getMillisecondCounterHiRes();
}

// Runs the message loop as the program does until the condition holds.
bool pumpUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = nowMs() + timeoutMs;
    while (!condition())
    {
        if (nowMs() > deadline)
            return false;
        juce::dispatchNextMessageOnSystemQueue (false);
    }
    return true;
}

juce::MouseEvent dragEvent (juce::Component& component, int dx)
{
    const juce::Point<float> down (300.0f, 150.0f);
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(),
                             down + juce::Point<float> ((float)dx, 0), juce::ModifierKeys::leftButtonModifier,
                             juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                             juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                             juce::MouseInputSource::defaultTiltY, &component, &component, now, down, now, 1, dx != 0);
}

// Notes when the sequencer hands the file to its listeners.
struct AnswerClock final : public HidSequenceManagerListener
{
    void importPatternDataResponsed (juce::File, int) override { answered = nowMs(); }
    std::atomic<double> answered{-1.0};
};

struct Gesture
{
    double wait = -1.0;        // first drag movement to the prepared file
    double toRequest = -1.0;   // ... to the first report of the request at the device
    double toListeners = -1.0; // ... to the sequencer's call of its listeners
};

// The program's side, from the page down to the access layer, connected to a
// virtual KORVA in a folder of its own.
struct Program
{
    Program()
    {
        ::setenv ("KORVA_VIRTUAL_DIR", folder.c_str(), 1);
        device = startDevice (folder);
        hidlink::HidManager::createInstance ({hidlink::makeVirtualBackend (folder)});
        patterns = std::make_unique<korva::PatternDataManager> (juce::File (folder).getChildFile ("Temp"));
        sequencer = std::make_unique<HidSequenceManager>();
        sequencer->setPatternConversions (patterns.get());
        deviceManager = std::make_unique<HidDeviceManager>();
        sequencer->useDeviceManager (deviceManager.get());
        deviceManager->setListener (sequencer.get());
        connected = device != nullptr && pumpUntil ([this] { return sequencer->isConnected(); }, 5000);

        if (device != nullptr)
            device->setReportObserver (
                [this] (const std::vector<std::uint8_t>& report)
                {
                    double unseen = -1.0;
                    if (report.size() > 2 && report[1] == korva::sim::kStart && report[2] == kImportPatternType)
                        requestSeen.compare_exchange_strong (unseen, nowMs());
                });
        sequencer->addListener (&clock);

        // Not shown: no pattern-information poll comes between the gestures.
        page = std::make_unique<PatternView> (*sequencer, *patterns);
        page->setBounds (0, 0, 815, 348);
        connected = connected && pumpUntil ([this] { return page->getDataComponent().isEnabled(); }, 2000);
    }

    ~Program()
    {
        page.reset();
        sequencer->removeListener (&clock);
        if (device != nullptr)
            device->setReportObserver (nullptr);
        deviceManager->clearListener();
        sequencer->useDeviceManager (nullptr);
        deviceManager.reset();
        sequencer.reset();
        patterns.reset();
        hidlink::HidManager::deleteInstance();
        device.reset();
        juce::File (folder).deleteRecursively();
        ::unsetenv ("KORVA_VIRTUAL_DIR");
    }

    // One gesture: the first drag movement, the wait for the file, mouse up.
    Gesture dragOut()
    {
        auto& component = page->getDataComponent();
        requestSeen = -1.0;
        clock.answered = -1.0;
        const auto start = nowMs();
        component.mouseDrag (dragEvent (component, 5));
        const bool made = pumpUntil ([&] { return component.getPreparedFile().isNotEmpty(); }, 5000);
        Gesture gesture;
        if (made)
            gesture = {nowMs() - start, requestSeen - start, clock.answered - start};
        component.mouseUp (dragEvent (component, 0));
        // The transport goes idle before the next request is reserved, as between two gestures of a user.
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        return gesture;
    }

    std::string folder = makeFolder();
    std::unique_ptr<korva::sim::VirtualKorva> device;
    std::unique_ptr<korva::PatternDataManager> patterns;
    std::unique_ptr<HidSequenceManager> sequencer;
    std::unique_ptr<HidDeviceManager> deviceManager;
    std::unique_ptr<PatternView> page;
    AnswerClock clock;
    std::atomic<double> requestSeen{-1.0};
    bool connected = false;
};

// The floor's two parts, measured beside the program so that all three see
// the same machine: the exchange alone (the 0x31 request and the 4096-byte
// answer, by a bare client to a second virtual KORVA) and what the sequencer
// does with the answer (a fresh file, decoded, rendered, written).
struct Floor
{
    explicit Floor (int bars)
    {
        device = startDevice (folder);
        client = std::make_unique<korva::bench::BareKorvaClient> (folder + "/korva.sock");
        patterns = std::make_unique<korva::PatternDataManager> (juce::File (folder).getChildFile ("Temp"));
        patterns->renderBarCount = bars;
    }

    ~Floor()
    {
        patterns.reset();
        client.reset();
        device.reset();
        juce::File (folder).deleteRecursively();
    }

    bool ok() const { return device != nullptr && client->ok(); }

    double exchange()
    {
        const auto start = nowMs();
        client->send (kImportPatternType, {});
        client->receive();
        return client->ok() ? nowMs() - start : -1.0;
    }

    double render()
    {
        const auto start = nowMs();
        const bool written = patterns->convertPatternToMidiFile (payload, patterns->makeMidiFile()) == 0;
        return written ? nowMs() - start : -1.0;
    }

    std::string folder = makeFolder();
    std::unique_ptr<korva::sim::VirtualKorva> device;
    std::unique_ptr<korva::bench::BareKorvaClient> client;
    std::unique_ptr<korva::PatternDataManager> patterns;
    const std::vector<std::uint8_t> bytes = densePattern();
    const juce::MemoryBlock payload{bytes.data(), bytes.size()};
};

void BM_DragOutWait (benchmark::State& state)
{
    const int bars = (int)state.range (0);
    if (hidlink::HidManager::getInstanceWithoutCreating() != nullptr)
    {
        state.SkipWithError ("another benchmark holds the device registry: run with --benchmark_filter=DragOut");
        return;
    }

    for (auto _ : state)
    {
        std::vector<double> waits, toRequest, toListeners, exchanges, renders;
        {
            Program program;
            Floor floor (bars);
            if (!program.connected || !floor.ok())
            {
                state.SkipWithError ("the virtual KORVA did not connect");
                return;
            }
            auto& selector = program.page->getDataComponent().getRenderLengthSelector();
            for (int i = 0; i < selector.getNumItems(); ++i)
                if (selector.getItemText (i) == juce::String (bars) + " bar")
                    selector.setSelectedItemIndex (i);
            if (PatternDataComponent::barsOf (selector) != bars)
            {
                state.SkipWithError ("no such length");
                return;
            }

            // Gesture by gesture, each with its floor beside it.
            for (int i = 0; i < kGestures; ++i)
            {
                const auto gesture = program.dragOut();
                const auto exchange = floor.exchange();
                const auto render = floor.render();
                if (gesture.wait < 0 || exchange < 0 || render < 0)
                {
                    state.SkipWithError ("a gesture or its floor failed");
                    return;
                }
                waits.push_back (gesture.wait);
                toRequest.push_back (gesture.toRequest);
                toListeners.push_back (gesture.toListeners);
                exchanges.push_back (exchange);
                renders.push_back (render);
            }
        }

        const double waitMs = median (waits);
        const double exchangeMs = median (exchanges);
        const double renderMs = median (renders);
        const double floorMs = HidSequenceRequestor::kPacingMs + exchangeMs + renderMs;
        state.SetIterationTime (waitMs / 1000.0);
        state.counters["wait_ms"] = waitMs;
        state.counters["exchange_ms"] = exchangeMs;
        state.counters["render_ms"] = renderMs;
        state.counters["floor_ms"] = floorMs;
        state.counters["over_floor_pct"] = 100.0 * (waitMs - floorMs) / floorMs;
        state.counters["to_request_ms"] = median (toRequest);
        state.counters["to_listeners_ms"] = median (toListeners);
    }
}
} // namespace

BENCHMARK (BM_DragOutWait)->Arg (4)->Arg (32)->Iterations (1)->UseManualTime()->Unit (benchmark::kMillisecond);

} // namespace korva
