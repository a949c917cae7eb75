// libFuzzer's start-up hook, the same for every target.

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    korva::fuzz::quietDiagnostics();
    return 0;
}
