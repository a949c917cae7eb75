#include "core/projects/ProjectFileName.h"

#include <gtest/gtest.h>

namespace korva
{

namespace
{
struct Case
{
    const char* name; // UTF-8
    const char* mended;
};

void expectMended (juce::String (*mend) (const juce::String&), std::initializer_list<Case> cases)
{
    for (const auto& c : cases)
        EXPECT_EQ (mend (juce::String::fromUTF8 (c.name)), juce::String::fromUTF8 (c.mended)) << c.name;
}
} // namespace

// What every system mends: nothing that names another folder, no control
// characters. The rest stays.
TEST (ProjectFileName, EverySystemLosesSeparatorsAndControlCharacters)
{
    expectMended (projectfilename::mendForEverySystem,
                  {
                      { "Live Set 2", "Live Set 2" },
                      { "", "" },
                      { "../../escape", ".._.._escape" },
                      { "a/b\\c", "a_b_c" },
                      { "tab\there", "tab_here" },
                      { "\x01\x1f\x7f", "___" },
                      { "a:b*c?\"<>|", "a:b*c?\"<>|" },
                      { "CON", "CON" },
                      { "Live. ", "Live. " },
                      { "caf\xc3\xa9 \xc2\xb3", "caf\xc3\xa9 \xc2\xb3" },
                  });
}

// Windows's own rules, checked on every system.
TEST (ProjectFileName, WindowsRulesMendEveryNameWindowsRefuses)
{
    expectMended (projectfilename::mendForWindows,
                  {
                      // Names Windows takes stay as they are.
                      { "Live Set 2", "Live Set 2" },
                      { "Live_20260305_140709.prj", "Live_20260305_140709.prj" },
                      { "caf\xc3\xa9~#%&{}$!'@+,;=[]", "caf\xc3\xa9~#%&{}$!'@+,;=[]" },
                      { ".hidden.prj.part", ".hidden.prj.part" },
                      { "CON_20260305_140709.prj", "CON_20260305_140709.prj" }, // more than the device's name
                      { "CONSOLE", "CONSOLE" },
                      { "COM10", "COM10" },
                      { "xNUL", "xNUL" },
                      { "\x7f", "\x7f" },
                      // Each character Windows refuses becomes "_".
                      { "a<b>c:d\"e/f\\g|h?i*j", "a_b_c_d_e_f_g_h_i_j" },
                      { "\x01tab\tend\x1f", "_tab_end_" },
                      { "C:\\Work\\Live", "C__Work_Live" },
                      // Device names, in any case and with any extension, get "_" after them.
                      { "CON", "CON_" },
                      { "con", "con_" },
                      { "Com1", "Com1_" },
                      { "con.prj", "con_.prj" },
                      { "nul.tar.gz", "nul_.tar.gz" },
                      { "PRN", "PRN_" },
                      { "aux", "aux_" },
                      { "COM0", "COM0_" },
                      { "lpt9.txt", "lpt9_.txt" },
                      { "COM\xc2\xb9", "COM\xc2\xb9_" },
                      { "lpt\xc2\xb3.prj", "lpt\xc2\xb3_.prj" },
                      { "NUL .prj", "NUL_ .prj" },
                      // A dot or a space at the end gets "_" after it.
                      { "Live.", "Live._" },
                      { "Live ", "Live _" },
                      { "...", "..._" },
                      { ".", "._" },
                      { "con.", "con_._" },
                      { "a?.", "a_._" },
                      { "", "_" },
                  });
}

// Mending again changes nothing: a mended name is one Windows takes.
TEST (ProjectFileName, AMendedNameStaysAsItIs)
{
    for (const char* name : { "con.prj", "a<b>", "Live. ", "", "COM1", "NUL .x", "\x01" })
    {
        const auto once = projectfilename::mendForWindows (projectfilename::mendForEverySystem (name));
        EXPECT_EQ (projectfilename::mendForWindows (once), once) << name;
        EXPECT_EQ (projectfilename::mendForEverySystem (once), once) << name;
    }
}

} // namespace korva
