// FileTools on Linux only: permissions.

#include "core/infra/FileTools.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace korva
{

using namespace korva::test;

// The creation time the PC/Mac table shows: a change of permissions, which
// moves the inode's change time, leaves it as it was.
TEST (FileTools, CreationTimeStaysWhenPermissionsChange)
{
    TempFolder tmp;
    const auto file = tmp / "Song.prj";
    ASSERT_TRUE (file.replaceWithText ("x"));
    const auto made = infra::FileTools::creationTime (file);
    ASSERT_NE (made.toMilliseconds(), 0);

    // Later by the clock, the file changes hands.
    ASSERT_TRUE (waitUntil ([&] { return juce::Time::getCurrentTime().toMilliseconds() > made.toMilliseconds() + 20; }));
    ASSERT_EQ (::chmod (file.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (infra::FileTools::creationTime (file), made);
}

} // namespace korva
