// The data-folder setting on Windows only: drive letters and network shares.

#include "core/settings/DirectorySetting.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

TEST (DirectorySettingOnWindows, FoldersAreKeptWithForwardSlashesAndFoundAgain)
{
    TempFolder tmp;
    DirectorySettingManager manager (tmp / "DirectorySetting.bin");

    struct Case
    {
        const char* chosen;
        const char* kept;
        const char* folder; // empty: not a full path
    };
    for (const auto& c : { Case { "D:\\Work\\Projects", "D:/Work/Projects", "D:\\Work\\Projects" },
                           Case { "\\\\server\\share\\KORVA", "//server/share/KORVA", "\\\\server\\share\\KORVA" },
                           Case { "Projects\\KORVA", "Projects/KORVA", "" } })
    {
        manager.setDataDirectory (c.chosen);
        EXPECT_EQ (manager.getDataDirectory(), c.kept) << c.chosen;
        EXPECT_EQ (manager.getDataDirectoryFile().getFullPathName(), c.folder) << c.chosen;
    }
}

} // namespace korva
