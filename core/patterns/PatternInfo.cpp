#include "core/patterns/PatternInfo.h"

namespace korva
{

bool parsePatternInfo (const uint8_t* payload, std::size_t size, PatternInfo& info)
{
    if (payload == nullptr || size != kPatternInfoSize)
        return false;

    info.trackNumber = payload[0];
    info.patternNumber = payload[1];
    for (int lane = 0; lane < kLaneCount; ++lane)
        info.ccNumbers[(std::size_t)lane] = payload[2 + lane];
    info.extra = payload[7];
    for (std::size_t slot = 0; slot < info.chordSlots.size(); ++slot)
        info.chordSlots[slot] = (uint16_t)((payload[8 + 2 * slot] << 8) | payload[9 + 2 * slot]);
    return true;
}

} // namespace korva
