#include "tests/support/TestMain.h"

namespace korva
{

int runProgram (int argc, char** argv)
{
    return korva::test::runAllTests (argc, argv, {});
}

} // namespace korva

int main (int argc, char** argv)
{
    return korva::runProgram (argc, argv);
}
