// Project file names on Linux only: what Windows refuses stays as it is.

#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectFileName.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace korva
{

using namespace korva::test;

TEST (ProjectFileNameOnLinux, OnlySeparatorsAndControlCharactersAreMended)
{
    for (const char* name : { "a:b*c?\"<>|", "CON", "con.prj", "COM1", "Live.", "Live ", "../x", "a\tb" })
        EXPECT_EQ (projectfilename::mendForThisSystem (name), projectfilename::mendForEverySystem (name)) << name;
}

TEST (ProjectFileNameOnLinux, AProjectKeepsTheNameItHadBefore)
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
    for (const auto& c : { Case { "Live: <B>?", "Live: <B>?_20260305_140709.prj" },
                           Case { "CON", "CON_20260305_140709.prj" },
                           Case { "tab\t/", "tab___20260305_140709.prj" } })
    {
        manager.setProjectName (c.deviceName);
        infra::FileFailure failure;
        const auto temp = manager.beginImport (failure);
        ASSERT_TRUE (ProjectDataManager::writeBlockToFile (temp, projectHeader ("x", 0)));
        EXPECT_EQ (manager.saveToDataDirectory (temp, &failure), tmp / c.fileName) << c.deviceName;
    }
}

} // namespace korva
