// Diagnostics on Linux only: what reaches file descriptor 2, and the
// environment as setenv changes it.

#include "core/infra/Diagnostics.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace korva
{

using namespace korva::test;

TEST (Diagnostics, TheTerminalHasWarningsAndErrorsAndTheTraceOnlyWhenAskedFor)
{
    TempFolder tmp;
    ScopedLogFile scoped (tmp / "log.txt");
    const auto captured = tmp / "stderr.txt";

    // What reaches file descriptor 2, as a terminal would show it.
    const auto terminal = [&] (bool traces) {
        infra::diagnostics::setStandardErrorEnabled (true);
        infra::diagnostics::setTracesToStandardError (traces);
        std::fflush (stderr);
        std::cerr.flush();
        const int saved = ::dup (2);
        const int file = ::open (captured.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2 (file, 2);
        infra::debugPrint ("sendReqStart dataType => 0x00");
        infra::logPrintf ("%s - %s", "infra::X::y", "cond");
        std::cerr.flush();
        ::dup2 (saved, 2);
        ::close (saved);
        ::close (file);
        infra::diagnostics::setStandardErrorEnabled (false);
        infra::diagnostics::setTracesToStandardError (false);
        return captured.loadFileAsString();
    };

    const auto quiet = terminal (false);
    EXPECT_TRUE (quiet.contains ("infra::X::y - cond")) << quiet;
    EXPECT_FALSE (quiet.contains ("sendReqStart")) << quiet;
    const auto verbose = terminal (true);
    EXPECT_TRUE (verbose.contains ("infra::X::y - cond")) << verbose;
    EXPECT_TRUE (verbose.contains ("sendReqStart dataType => 0x00")) << verbose;

    struct Case
    {
        const char* value; // nullptr: not set
        bool asked;
    };
    for (const auto& c : { Case { nullptr, false }, Case { "", false }, Case { "0", false }, Case { "1", true },
                           Case { "yes", true } })
    {
        if (c.value == nullptr)
            ::unsetenv ("KORVA_TRACE");
        else
            ::setenv ("KORVA_TRACE", c.value, 1);
        EXPECT_EQ (infra::diagnostics::tracesRequestedByEnvironment(), c.asked) << (c.value ? c.value : "unset");
    }
    ::unsetenv ("KORVA_TRACE");
}

} // namespace korva
