#include "core/infra/CommandLine.h"
#include "core/infra/Diagnostics.h"
#include "gui/shell/Application.h"
#include "gui/shell/TerminationSignals.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace korva
{

namespace
{
juce::JUCEApplicationBase* createApplication()
{
    return new MELDRA_QX5_Application();
}

// Without an X display JUCE cannot make a window at all; say so plainly
// instead of failing somewhere inside the framework.
bool displayAvailable()
{
    if (Display* display = XOpenDisplay (nullptr))
    {
        XCloseDisplay (display);
        return true;
    }
    return false;
}


const char* const kHelp =
    "Usage: korva-manager [OPTION]\n"
    "KORVA Manager: the projects and patterns of a KORVA step sequencer, on this computer.\n"
    "\n"
    "  -v, --verbose  write the program's trace to standard error as well\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "The terminal shows warnings and errors only. The full trace (every request\n"
    "to the KORVA and its answer) goes there too with --verbose, or when the\n"
    "environment variable KORVA_TRACE is set (KORVA_TRACE=1). Warnings and errors\n"
    "are also kept in log.txt: beside the program, or in\n"
    "~/.config/MELDRA/KORVA Manager/ when the program's folder cannot be written.\n"
    "\n"
    "Only one KORVA Manager runs for each user: starting it again brings the\n"
    "running window to the front.\n";

enum class Start
{
    kRun,
    kDone,
    kUsageError
};

Start readOptions (int argc, char* argv[])
{
    namespace cl = infra::commandline;
    const std::vector<cl::Option> options = {
        {"--verbose", "-v"},
        {"--help", "-h", nullptr, nullptr, {}, true},
        {"--version", nullptr, nullptr, nullptr, {}, true},
    };
    cl::Parsed parsed;
    cl::Error error;
    if (! cl::parse (options, cl::Words::kOptionsOnly, cl::argumentsOf (argc, argv), parsed, error))
    {
        std::fprintf (stderr, "korva-manager: unknown option '%s'\nTry 'korva-manager --help'.\n", error.word.c_str());
        return Start::kUsageError;
    }

    if (parsed.has ("--verbose"))
        infra::diagnostics::setTracesToStandardError (true);
    if (parsed.has ("--help"))
    {
        std::fputs (kHelp, stdout);
        return Start::kDone;
    }
    if (parsed.has ("--version"))
    {
        std::printf ("korva-manager %s\n", KORVA_VERSION_STRING);
        return Start::kDone;
    }
    return Start::kRun;
}
} // namespace

int runProgram (int argc, char* argv[])
{
    infra::diagnostics::setTracesToStandardError (infra::diagnostics::tracesRequestedByEnvironment());
    switch (readOptions (argc, argv))
    {
        case Start::kDone: return 0;
        case Start::kUsageError: return 2;
        case Start::kRun: break;
    }

    terminationsignals::install();

    if (! displayAvailable())
    {
        std::fprintf (stderr, "KORVA Manager needs a graphical desktop (an X11 display), and none could be opened%s%s.\n",
                      std::getenv ("DISPLAY") != nullptr ? " at DISPLAY=" : ": DISPLAY is not set",
                      std::getenv ("DISPLAY") != nullptr ? std::getenv ("DISPLAY") : "");
        return 1;
    }

    juce::JUCEApplicationBase::createInstance = &createApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}

} // namespace korva

int main (int argc, char* argv[])
{
    return korva::runProgram (argc, argv);
}
