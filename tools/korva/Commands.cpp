// The command table: the pattern and MIDI file conversions, then the
// commands that talk to the KORVA.

#include "tools/korva/Command.h"
#include "tools/korva/DeviceCommands.h"
#include "tools/korva/PatternCommands.h"

namespace korva
{

namespace tool
{

namespace
{

const Option kOutput{"--output", "-o", "FILE", "the file to write (replaced only when the command succeeds)"};
const Option kInfo{"--info", nullptr, "INFO",
                   "a 20-byte pattern-information payload: controller numbers of the five lanes, six chord slots"};
const Option kDropBars{"--bars", "-b", "N", "bars to take: 1, 2 or 4 (default 4)"};
const Option kJson{"--json", nullptr, nullptr, "print the report as JSON"};

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
         "IN.mid -o PATTERN [--bars N] [--info INFO] [--report] [--json]",
         "turn a Standard MIDI File into the 4096-byte pattern payload that would be sent to the KORVA",
         "Notes and the controllers named by --info are taken from the first bars, up to the end of the\n"
         "first track that holds a note. Without --info every lane takes controller 0.\n"
         "With --report it then prints what the file kept and lost, as korva fit does.",
         {kOutput,
          kDropBars,
          kInfo,
          {"--report", nullptr, nullptr, "print what was kept and what was lost"},
          {"--json", nullptr, nullptr, "print the report as JSON (implies --report)"}},
         1,
         1,
         runMidiToPattern},
        {"fit",
         "IN.mid [--bars N] [--info INFO] [--json]",
         "tell what of a Standard MIDI File a pattern would keep and what it would lose, writing nothing",
         "Counts the notes and controller changes kept and those lost, by reason (after the last bar,\n"
         "beyond 8 notes in a step, no free slot, the same note again at the same position, a note number\n"
         "or velocity above 127, controllers no lane takes, tracks after the first one with notes), with\n"
         "the first examples of each at bar.beat.sixteenth as a DAW counts (from 1; +N/6 when a note starts\n"
         "N sixths of a step past its sixteenth), the KORVA's step (1 to 16) and the note name (60 = C4).\n"
         "Which controllers the lanes take comes from --info, else from the KORVA plugged in (as a drop on\n"
         "KORVA Manager does); without either every lane takes controller 0, and the report says so.\n"
         "Starts move onto sixths of a step and lengths onto eighths; the largest of these errors is given\n"
         "in ticks and in milliseconds at the file's first tempo (120 BPM without one). The report comes\n"
         "from the reader midi2pattern uses, on the same pass. A file the reader refuses gets no report\n"
         "but the reason, also as JSON with --json.",
         {kDropBars, kInfo, kJson},
         1,
         1,
         runFit},
        {"dump",
         "PATTERN",
         "print a 4096-byte pattern payload as JSON, every field by name",
         nullptr,
         {},
         1,
         1,
         runDump},
        {"show",
         "PATTERN [--bars N] [--info INFO] | --device [--bars N]",
         "draw a pattern (or the KORVA's current one) as a piano roll",
         "The notes of the MIDI file render (or KORVA Manager's drag) would give, a row per pitch and a bar\n"
         "line at each bar, sized to the terminal's width, then a summary line: the bars, the notes and the\n"
         "controller lanes. Plain ASCII when the output is not a terminal or --ascii is given.",
         {{"--bars", "-b", "N", "bars to show: 1, 2, 4, 8, 16 or 32 (default 4)"},
          kInfo,
          {"--device", "-d", nullptr, "show the KORVA's current pattern"},
          {"--ascii", nullptr, nullptr, "draw with ASCII characters only"},
          {"--json", nullptr, nullptr, "print the notes and controllers as JSON instead"}},
         0,
         1,
         runShow},
        {"devices",
         "",
         "list the KORVAs plugged in (and virtual ones) with their identifiers",
         "The first one listed is the one korva and KORVA Manager use.",
         {},
         0,
         0,
         runDevices},
        {"projects",
         "",
         "list the projects on the KORVA and the room left on it",
         "Each line: the project's number (three digits), its name and its number of patterns; the project\n"
         "KORVA is using is marked \"in use\".",
         {},
         0,
         0,
         runProjects},
        {"pull",
         "INDEX [-o FILE.prj] | --all [-o FOLDER]",
         "copy a project (or all of them) from the KORVA to the computer",
         "Without -o the copy goes into the data folder chosen in KORVA Manager, named after the project and\n"
         "the time, as KORVA Manager names it (\"Live_20260305_140709.prj\"); an existing file is never\n"
         "replaced. Every copy is checked (its size, its header and its pattern blocks) before it is put in\n"
         "place, and its path is printed. --all copies every project as Import All Projects... does. As\n"
         "in KORVA Manager, the project the KORVA is using is never copied: --all names it on standard\n"
         "error and goes on, a pull of it alone is refused. Ctrl+C cancels the transfer as KORVA Manager's\n"
         "Cancel button does, and leaves nothing behind; a second Ctrl+C stops at once.",
         {{"--output", "-o", "PATH", "the file to write (replaced only when the copy is whole), or a folder"},
          {"--all", "-a", nullptr, "copy every project on the KORVA but the one in use"}},
         0,
         1,
         runPull},
        {"push",
         "FILE.prj",
         "load a project file into the KORVA",
         "Refused when a project of the same name is on the KORVA or when the KORVA has no room for it, as on\n"
         "KORVA Manager's project page; only a whole project file is sent. Prints the project's line as\n"
         "korva projects shows it. Ctrl+C cancels the transfer.",
         {},
         1,
         1,
         runPush},
        {"rename",
         "INDEX NAME",
         "rename a project on the KORVA",
         "The name is checked as KORVA Manager checks it: at most 32 characters, none of / \\ ? * : \" < > | ~\n"
         "and nothing but ASCII, and no other project on the KORVA named the same. The project KORVA is using\n"
         "cannot be renamed.",
         {},
         2,
         2,
         runRename},
        {"delete",
         "INDEX [--yes]",
         "delete a project on the KORVA",
         "Asks first (\"Deleting project NAME. Are you sure?\"), unless --yes is given; the answer is read from\n"
         "standard input. The project KORVA is using cannot be deleted.",
         {{"--yes", "-y", nullptr, "do not ask"}},
         1,
         1,
         runDelete},
        {"rename-file",
         "FILE.prj NAME",
         "rename the project inside a project file (the file keeps its name)",
         "The name is checked as KORVA Manager checks it: at most 32 characters, none of / \\ ? * : \" < > | ~\n"
         "and nothing but ASCII. Needs no KORVA.",
         {},
         2,
         2,
         runRenameFile},
        {"pattern-info",
         "[-o INFO]",
         "show where the KORVA's current pattern sits, its lanes' controllers and its chord slots",
         "With -o the 20-byte pattern-information payload is written too, for render --info.",
         {{"--output", "-o", "INFO", "also write the pattern-information payload"}},
         0,
         0,
         runPatternInfo},
        {"pull-pattern",
         "-o OUT.mid [--bars N]",
         "write the KORVA's current pattern as a Standard MIDI File",
         "The file is the one KORVA Manager lets you drag out of its PATTERN page: format 0, 480 ticks per\n"
         "quarter note, played through the KORVA's own sequencer engine.",
         {kOutput, {"--bars", "-b", "N", "bars to write: 1, 2, 4, 8, 16 or 32 (default 4)"}},
         0,
         0,
         runPullPattern},
        {"push-midi",
         "IN.mid [--bars N]",
         "send a Standard MIDI File to the KORVA as its current pattern",
         "As a file dropped onto KORVA Manager's PATTERN page: notes and the controllers the KORVA's lanes\n"
         "send are taken from the first bars of the file.",
         {{"--bars", "-b", "N", "bars to take: 1, 2 or 4 (default 4)"}},
         1,
         1,
         runPushMidi},
    };
    return table;
}

} // namespace tool

} // namespace korva
