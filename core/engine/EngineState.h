#pragma once

// The engine's state: plain data, one process-wide instance, nothing allocated
// while it plays. Each concern lives in its own source file and works on this
// state through the functions declared at the end. Tests include this header to
// drive the engine tick by tick.

#include "core/engine/Engine.h"

#include <cstdint>

namespace korva::engine
{

constexpr int kTrackCount = 16;
constexpr int kTrackGroupSize = 4;
constexpr int kNoteCount = 128;
constexpr int kRecordBlockCount = 64;
constexpr int kChordMemorySize = 32;
constexpr int kPendingNotesPerTrack = 8;
constexpr int kMaxSoundingNotes = 8;
constexpr int kMaxNoteOnsPerPlay = 8;
constexpr int kOutputBudget = 8;
constexpr int kOutputTracksPerTick = 8;
constexpr int kWarmUpTicks = 10;
constexpr int kTickBudget = 200000;

constexpr uint16_t kDefaultTempo = 1200;
constexpr uint16_t kMinTempo = 300;
constexpr uint16_t kMaxTempo = 3000;

// Notes held without end (live input) carry this gate.
constexpr float kGateHeld = 2000000.0f;

constexpr uint8_t kNeutralNudge = 64;
constexpr int kArpNoNote = -50;

// 128 notes as four 32-bit words.
struct NoteSet
{
    uint32_t words[4];

    bool test (int n) const { return (words[n >> 5] >> (n & 31)) & 1u; }
    void set (int n) { words[n >> 5] |= 1u << (n & 31); }
    void reset (int n) { words[n >> 5] &= ~(1u << (n & 31)); }
    void clear() { words[0] = words[1] = words[2] = words[3] = 0; }
    bool any() const { return (words[0] | words[1] | words[2] | words[3]) != 0; }
    int lowest() const;  // -1 when empty
    int highest() const; // -1 when empty
    int count() const;

    // Calls f(n) for every note in ascending order, word by word, jumping over empty bits.
    template <typename F>
    void forEach (F&& f) const
    {
        for (int w = 0; w < 4; ++w)
        {
            for (uint32_t bits = words[w]; bits != 0; bits &= bits - 1)
                f (w * 32 + __builtin_ctz (bits));
        }
    }
};

inline NoteSet operator& (const NoteSet& a, const NoteSet& b)
{
    return {{a.words[0] & b.words[0], a.words[1] & b.words[1], a.words[2] & b.words[2], a.words[3] & b.words[3]}};
}
inline NoteSet operator| (const NoteSet& a, const NoteSet& b)
{
    return {{a.words[0] | b.words[0], a.words[1] | b.words[1], a.words[2] | b.words[2], a.words[3] | b.words[3]}};
}
inline NoteSet operator^ (const NoteSet& a, const NoteSet& b)
{
    return {{a.words[0] ^ b.words[0], a.words[1] ^ b.words[1], a.words[2] ^ b.words[2], a.words[3] ^ b.words[3]}};
}
inline NoteSet operator~(const NoteSet& a)
{
    return {{~a.words[0], ~a.words[1], ~a.words[2], ~a.words[3]}};
}

// A position in a track's time: the advance since the track's previous service,
// the fraction within the step, the step in the bar, its sixth and the bar.
struct Position
{
    float delta;
    float fraction;
    uint8_t step;
    uint8_t subPosition;
    uint16_t bar;
};

enum PositionFlag : uint8_t
{
    kNewSubPosition = 1 << 0,
    kNewStep = 1 << 1,
    kNewUnit = 1 << 2,
};

// The play position Q (and the motion position M): where the track is in its
// step chain. gridX is the position on the bar's play order, stepY the step in
// the bar it stands for (stepY = order[gridX]).
struct PlayPosition
{
    float delta;
    float fraction;
    uint8_t subPosition;
    uint8_t gridX;
    uint8_t stepY;
    uint8_t bar;
    uint8_t unitsLeft; // repeat units still to play in the step
    float ratio;       // units per step of track time
    bool backward;     // walking the chain backwards
    uint8_t flags;     // PositionFlag of this service
    bool firstPending; // a start is waiting for its first sub-position
    uint8_t linkReverseSeen;

    int stepIndex() const { return bar * kStepsPerBar + stepY; }
    int gridSlot() const { return bar * kStepsPerBar + gridX; }
};

// Time effects: P5 runs at half speed, stands still or runs at double speed.
enum TimeEffect : uint8_t
{
    kNoEffect = 0,
    kHalfSpeed = 1,
    kFreeze = 2,
    kDoubleSpeed = 3,
};

// A recorded loop: the play position jumps back to the loop's first step each
// time it has played the loop's length.
struct LoopState
{
    bool startValid;
    uint8_t startBar;
    uint8_t startStepY;
    int8_t loopClass; // 0 to 3 (4, 2, 1 or 0.5 steps), -1 none
    uint8_t variant;  // 0 straight, 1 triplet, 2 dotted
    bool active;
    uint8_t stepCounter;  // motion steps since the loop start, modulo 96
    uint8_t waitCount;    // new play steps still to pass before the jump back
    float threshold;      // fraction of the step at which it jumps once waitCount is 0
    uint8_t previousBits; // low three bits of the last code read; kept by a stop
    bool reload;
    bool replace;

    bool inForce() const { return active && loopClass >= 0 && startValid; }
    int index() const { return 4 * variant + loopClass; }
};

struct TrackState
{
    // Taken from the pattern whenever it is replaced.
    bool patternReplaced;
    bool inert;    // no notes, controller values or glides anywhere: nothing to serve
    bool idle;     // inert and quiet: stays so until another pattern is put on the track
    bool playable; // some enabled step within the pattern's bars
    bool emptyMarked;
    uint8_t order[kStepsPerBar];
    uint8_t inverseOrder[kStepsPerBar];
    uint8_t forwardLinks[kStepCount];
    uint8_t backwardLinks[kStepCount];

    // Settings applied when the pattern is put on the track; resync changes wait for a bar start.
    float swingFactor;
    uint8_t resyncEnabled;
    uint8_t resyncSteps;
    uint8_t resyncCount;
    uint8_t scaleType;
    uint8_t scaleRoot;
    uint32_t scaleCode;
    uint8_t scaleActions[kNoteCount]; // index into kScaleShifts per note

    // Timing: P0 to P5, then the motion position M and the play position Q.
    Position masterCopy; // P0
    Position trackTime;  // P1
    Position swung;      // P2
    Position grooved;    // P3
    Position nudged;     // P4
    Position effected;   // P5
    PlayPosition motion; // M
    PlayPosition play;   // Q
    bool restartMotion;
    bool restartPlay;
    uint8_t liveNudge;     // from the device's controls: always neutral here
    uint8_t recordedNudge; // last nudge read from the motion records
    uint8_t liveEffect;    // from the device's controls: always none here
    uint8_t recordedEffect;
    uint8_t effectStep; // motion step at which the recorded effect began
    int8_t liveTranspose;
    int8_t recordedTranspose;
    LoopState loop;

    // Step play.
    NoteSet sounding;
    NoteSet previousSounding;
    NoteSet startedThisTick;
    float gateTimer[kNoteCount];
    uint8_t noteVelocity[kNoteCount];
    uint8_t noteOnsThisPlay;
    uint8_t soundingCount;
    uint8_t ccOut[kLaneCount];
    bool glidePending;
    bool sequencerOutputOff; // a device track setting, never set here

    // Chords and arpeggiator.
    int chordRoot;   // -1 none
    int arpLastNote; // kArpNoNote: none
    uint8_t arpOctave;
    bool arpDescending;
    bool arpGateOpen;
    float arpGateLeft;
    uint8_t arpWaitCount;
    float arpThreshold;
    bool arpDue;
    bool arpChoiceRequested;
    float arpFireFraction;
    uint8_t arpVelocity;

    // Output.
    NoteSet outputRequested;
    NoteSet outputRetrigger;
    NoteSet outputSent;
    uint8_t outputVelocity[kNoteCount];
    bool outputEnabled;
    bool mono; // a device track setting for control-voltage outputs, off here
};

struct MasterClock
{
    float increment;
    float phase;
    uint8_t step;
    uint16_t bar;
    uint8_t subPosition;
    uint8_t eighth;
    int8_t fine;      // tempo fine offset, 0 here
    bool syncPending; // an external-sync increment replaces the next one
    float syncIncrement;
    bool restartPending;
    uint8_t trackGroupFirst;
    uint8_t trackGroupLast;
};

// Recorder queue entries. recordBar is the recorded bar current when the event
// was played, so an event played in the last tick of a bar stays in that bar.
struct NoteEvent
{
    uint16_t bar;
    uint8_t step;
    uint8_t subPosition;
    uint8_t eighth;
    uint8_t note;
    uint8_t velocity; // 0: note off
    uint8_t track;
    uint8_t recordBar;
};

struct CcEvent
{
    uint16_t bar;
    uint8_t step;
    uint8_t lane;
    uint8_t value;
    uint8_t track;
    uint8_t recordBar;
};

struct GlideEvent
{
    uint16_t bar;
    uint8_t step;
    uint8_t track;
    uint8_t recordBar;
};

// A ring that keeps one entry free: an event that would fill it is dropped.
template <typename T, int Capacity>
struct EventQueue
{
    T entries[Capacity];
    int readIndex;
    int writeIndex;

    bool push (const T& event)
    {
        const int next = (writeIndex + 1) % Capacity;
        if (next == readIndex)
            return false;
        entries[writeIndex] = event;
        writeIndex = next;
        return true;
    }
    bool pop (T& event)
    {
        if (readIndex == writeIndex)
            return false;
        event = entries[readIndex];
        readIndex = (readIndex + 1) % Capacity;
        return true;
    }
    int size() const { return (writeIndex - readIndex + Capacity) % Capacity; }
};

// A note recorded as struck and not yet released.
struct PendingNote
{
    uint8_t blockIndex;
    uint8_t note;
    uint8_t step; // step in the block
    uint8_t slot;
    uint16_t bar; // master bar at the start
    uint8_t eighth;
};

enum CaptureCommand : uint8_t
{
    kCaptureNone = 0,
    kCaptureFreeze = 1,
    kCaptureRelease = 2,
};

struct Recorder
{
    StepBlock* blocks; // kRecordBlockCount blocks in the work memory
    uint8_t recordBar; // 0 to 31
    uint16_t recordedBarsMask;
    uint8_t captureCommand;
    bool captured;
    EventQueue<NoteEvent, 128> noteQueue;
    EventQueue<CcEvent, 80> ccQueue;
    EventQueue<GlideEvent, 16> glideQueue;
    PendingNote pending[kTrackCount][kPendingNotesPerTrack];
    uint16_t pendingInUse[kTrackCount];
};

// Stands for the device's memory: the project's 16 track patterns and the
// recorder's 64 blocks (4 per track on the device; a render uses track 0's 8).
struct WorkMemory
{
    PatternRecord trackPatterns[kTrackCount];
    StepBlock recordBlocks[kRecordBlockCount];
};

enum TransportState : uint8_t
{
    kStopped = 0,
    kPlaying = 1,
};

struct EngineState
{
    WorkMemory* memory;
    PatternRecord* trackPatterns[kTrackCount];
    PatternRecord defaultPattern;
    uint16_t chordMemory[kTrackCount][kChordMemorySize];
    uint16_t tempoTenths;
    uint8_t transportState;
    MasterClock clock;
    TrackState tracks[kTrackCount];
    Recorder recorder;

    // Tracks whose output sets differ from what was sent (bit t for track t),
    // so the output stage looks only at those.
    uint16_t outputPendingTracks;

    // Not reset by engineInit: the output stage's next start track.
    uint8_t outputStartTrack;
};

// The process-wide instance.
EngineState& engineState();

// The C runtime's generator: per thread, starting at 1, never seeded.
int nextRandom();

// Pattern bars the engine plays: the record's barCount, at most 4.
int playedBarCount (const PatternRecord& pattern);

// Puts the track's pattern in place: rebuilds its step chain, applies its
// settings and has the track reload and restart on its next service.
void takePattern (EngineState& e, int track);

// The mended bounds of pattern settings the device does not check.
float grooveAmountOf (const PatternSettings& settings);
int arpOctavesOf (const PatternSettings& settings);

// Clock.cpp: the master clock and step play.
void runMasterClock (EngineState& e);
void runGateTimers (EngineState& e, int track);
void runStepPlay (EngineState& e, int track);

// TrackTiming.cpp: positions, the step chain and restarts.
void applyTrackSettings (EngineState& e, int track);
void buildStepChain (PatternRecord& pattern);
void loadStepChain (EngineState& e, int track);
void runTrackTiming (EngineState& e, int track);
void resetTrackTiming (TrackState& t);
void rebuildScaleTable (TrackState& t, uint8_t scaleType, uint8_t scaleRoot);
void refreshScaleTable (EngineState& e, int track);

// Navigation along the track's step chain, shared with the loop effect.
void placeAt (const TrackState& t, PlayPosition& q, int bar, int stepY);
void moveOn (const EngineState& e, int track, PlayPosition& q);
void enterStep (const EngineState& e, int track, PlayPosition& q);
void loadRatio (const EngineState& e, int track, PlayPosition& q);

// LoopEffect.cpp: the recorded loop.
void resetLoop (LoopState& loop);
void readLoopCode (EngineState& e, int track);
void runLoop (EngineState& e, int track, bool restarted, bool effectChanged);
void finishLoopService (EngineState& e, int track);

// Arpeggiator.cpp.
void resetArpeggiator (TrackState& t);
void runArpeggiatorClock (EngineState& e, int track);
int chooseArpeggiatorNote (TrackState& t, const PatternSettings& settings, const NoteSet& held);

// The grid length of an arpeggiator rate; rates beyond the table count as 8 steps.
int gridLengthOfArpRate (uint32_t rate);

// OutputStage.cpp: the per-track output set and the note events.
void computeTrackOutput (EngineState& e, int track);
void runOutputStage (EngineState& e);

// Recorder.cpp.
void resetRecorder (EngineState& e);
void recorderBarBoundary (EngineState& e);
void runRecorder (EngineState& e);
void queueNoteEvent (EngineState& e, int track, int note, int velocity);
void queueCcEvent (EngineState& e, int track, int lane, int value);
void queueGlideEvent (EngineState& e, int track);

} // namespace korva::engine
