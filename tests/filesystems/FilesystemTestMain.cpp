#include "tests/filesystems/PrivateMounts.h"
#include "tests/support/GuiTestPrepare.h"
#include "tests/support/TestMain.h"

int main (int argc, char** argv)
{
    // Before anything starts a thread: unshare() moves only a single-threaded process.
    korvatest::enterPrivateMounts();
    return korvatest::runAllTests (argc, argv, korvatest::prepareGuiTests);
}
