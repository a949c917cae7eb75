// Project file names on Windows only: a device name Windows refuses as a
// file name is mended, and the project is saved all the same.

#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectFileName.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

TEST (ProjectFileNameOnWindows, WindowsRulesApply)
{
    for (const char* name : { "a:b*c?\"<>|", "CON", "con.prj", "COM1", "Live.", "Live ", "../x", "a\tb\x7f" })
        EXPECT_EQ (projectfilename::mendForThisSystem (name),
                   projectfilename::mendForWindows (projectfilename::mendForEverySystem (name)))
            << name;
}

TEST (ProjectFileNameOnWindows, DeviceNamesWindowsRefusesAreSavedUnderMendedNames)
{
    TempFolder tmp;
    ProjectDataManager manager;
    manager.dataDirectory = [&] { return tmp.get(); };
    manager.clock = [] { return juce::Time (2026, 2, 5, 14, 7, 9, 0, true); };

    struct Case
    {
        const char* deviceName;
        const char* fileName;
    };
    for (const auto& c : { Case { "Live: <B>?", "Live_ _B___20260305_140709.prj" },
                           Case { "a:b", "a_b_20260305_140709.prj" },
                           Case { "a?b", "a_b_20260305_140709_2.prj" }, // meets the one before: numbered
                           Case { "CON", "CON_20260305_140709.prj" },
                           Case { "Live.", "Live._20260305_140709.prj" } })
    {
        manager.setProjectName (c.deviceName);
        infra::FileFailure failure;
        const auto temp = manager.beginImport (failure);
        ASSERT_TRUE (ProjectDataManager::writeBlockToFile (temp, projectHeader (c.deviceName, 0)));
        const auto saved = manager.saveToDataDirectory (temp, &failure);
        EXPECT_EQ (saved, tmp / c.fileName) << c.deviceName << ": " << failure.reason();

        juce::MemoryBlock header;
        ASSERT_TRUE (ProjectDataManager::readProjectHeader (saved, header)) << c.deviceName;
        EXPECT_EQ (ProjectDataManager::readProjectName (header), c.deviceName);
    }
}

} // namespace korva
