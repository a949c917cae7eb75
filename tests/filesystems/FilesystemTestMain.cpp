#include "tests/filesystems/PrivateMounts.h"
#include "tests/support/GuiTestPrepare.h"
#include "tests/support/TestMain.h"

namespace korva
{

int runProgram (int argc, char** argv)
{
    // Before anything starts a thread: unshare() moves only a single-threaded process.
    korva::test::enterPrivateMounts();
    return korva::test::runAllTests (argc, argv, korva::test::prepareGuiTests);
}

} // namespace korva

int main (int argc, char** argv)
{
    return korva::runProgram (argc, argv);
}
