// The command table. A device command (devices, projects, pull, push, ...) is
// one more entry here and a run function in a file of its own.

#include "tools/korva/Command.h"
#include "tools/korva/PatternCommands.h"

namespace korvatool
{

namespace
{

const Option kOutput{"--output", "-o", "FILE", "the file to write (replaced only when the command succeeds)"};
const Option kInfo{"--info", nullptr, "INFO",
                   "a 20-byte pattern-information payload: controller numbers of the five lanes, six chord slots"};

} // namespace

const std::vector<Command>& commandTable()
{
    static const std::vector<Command> table{
        {"render",
         "PATTERN -o OUT.mid [--bars N] [--info INFO]",
         "play a 4096-byte pattern payload through the sequencer engine into a Standard MIDI File",
         "The file is format 0, 480 ticks per quarter note, channel 1, as KORVA Manager drags it out.\n"
         "Without --info every lane sends controller 0 and every chord slot is empty.",
         {kOutput, {"--bars", "-b", "N", "bars to render: 1, 2, 4, 8, 16 or 32 (default 4)"}, kInfo},
         1,
         1,
         runRender},
        {"midi2pattern",
         "IN.mid -o PATTERN [--bars N] [--info INFO]",
         "turn a Standard MIDI File into the 4096-byte pattern payload that would be sent to the KORVA",
         "Notes and the controllers named by --info are taken from the first bars, up to the end of the\n"
         "first track that holds a note. Without --info every lane takes controller 0.",
         {kOutput, {"--bars", "-b", "N", "bars to take: 1, 2 or 4 (default 4)"}, kInfo},
         1,
         1,
         runMidiToPattern},
        {"dump",
         "PATTERN",
         "print a 4096-byte pattern payload as JSON, every field by name",
         nullptr,
         {},
         1,
         1,
         runDump},
    };
    return table;
}

} // namespace korvatool
