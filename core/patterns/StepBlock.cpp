#include "core/patterns/StepBlock.h"

#include <cstring>

namespace korva
{

namespace
{
bool validStep (int step)
{
    return step >= 0 && step < kStepCount;
}
} // namespace

uint32_t stepWord (const StepBlock& block, int step)
{
    return validStep (step) ? block.steps[step] : 0;
}

uint8_t stepNoteMask (const StepBlock& block, int step)
{
    return stepword::noteMask (stepWord (block, step));
}

uint8_t stepCcMask (const StepBlock& block, int step)
{
    return stepword::ccMask (stepWord (block, step));
}

uint8_t stepSubPositionMask (const StepBlock& block, int step, int subPosition)
{
    if (!validStep (step) || subPosition < 0 || subPosition >= kSubPositionCount)
        return 0;
    return block.subPositionMasks[step][subPosition];
}

NoteSlot stepNote (const StepBlock& block, int step, int slot)
{
    if (!validStep (step) || slot < 0 || slot >= kSlotCount)
        return {};
    return block.notes[step][slot];
}

uint8_t stepCcValue (const StepBlock& block, int step, int lane)
{
    if (!validStep (step) || lane < 0 || lane >= kLaneCount)
        return 0;
    return block.ccValues[step][lane];
}

bool slotStartsAt (const StepBlock& block, int step, int slot, int subPosition)
{
    if (slot < 0 || slot >= kSlotCount)
        return false;
    const uint8_t bit = (uint8_t)(1u << slot);
    return (stepNoteMask (block, step) & bit) != 0 && (stepSubPositionMask (block, step, subPosition) & bit) != 0;
}

int addNoteToStep (StepBlock& block, int step, int subPosition, uint8_t note, uint8_t velocity)
{
    if (!validStep (step) || subPosition < 0 || subPosition >= kSubPositionCount)
        return -1;

    uint32_t& word = block.steps[step];
    uint8_t* masks = block.subPositionMasks[step];
    const uint8_t noteMask = stepword::noteMask (word);

    if (noteMask == 0)
    {
        // A step without notes still carries the default slot layout; start afresh.
        std::memset (masks, 0, kSubPositionCount);
        masks[subPosition] = 1;
        block.notes[step][0] = {note, velocity, 0};
        word = stepword::withNoteMask (word, 1);
        return 0;
    }
    if (noteMask == 0xFF)
        return -1;

    int chosen = -1;
    int firstFree = -1;
    for (int slot = 0; slot < kSlotCount; ++slot)
    {
        const uint8_t bit = (uint8_t)(1u << slot);
        if ((masks[subPosition] & bit) != 0 && block.notes[step][slot].note == note)
        {
            chosen = slot;
            break;
        }
        if (firstFree < 0 && (noteMask & bit) == 0)
            firstFree = slot;
    }
    if (chosen < 0)
        chosen = firstFree;
    if (chosen < 0)
        return -1;

    masks[subPosition] |= (uint8_t)(1u << chosen);
    uint8_t combined = 0;
    for (int k = 0; k < kSubPositionCount; ++k)
        combined |= masks[k];
    word = stepword::withNoteMask (word, combined);
    block.notes[step][chosen] = {note, velocity, 0};
    return chosen;
}

void setStepCcValue (StepBlock& block, int step, int lane, uint8_t value)
{
    if (!validStep (step) || lane < 0 || lane >= kLaneCount)
        return;
    uint32_t& word = block.steps[step];
    word = stepword::withCcMask (word, (uint8_t)(stepword::ccMask (word) | (1u << lane)));
    block.ccValues[step][lane] = value;
}

void clearPattern (StepBlock& block)
{
    std::memset (&block, 0, sizeof (block));
    block.barCount = 1;
    block.speed = 2;
    for (auto& mask : block.stepPresentMasks)
        mask = 0xFFFF;
    for (int step = 0; step < kStepCount; ++step)
    {
        block.steps[step] = stepword::kEnabled;
        block.subPositionMasks[step][0] = 1;
        for (auto& slot : block.notes[step])
            slot = {60, 100, 7};
        auto& motion = block.stepMotion[step];
        motion.transposeCode = 8;
        for (auto& nudge : motion.nudge)
            nudge = 64;
    }
}

} // namespace korva
