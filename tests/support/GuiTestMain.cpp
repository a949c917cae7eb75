#include "tests/support/GuiTestPrepare.h"
#include "tests/support/TestMain.h"

int main (int argc, char** argv)
{
    return korvatest::runAllTests (argc, argv, korvatest::prepareGuiTests);
}
