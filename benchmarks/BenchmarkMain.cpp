// Keeps a JUCE initialiser alive, so timers and the message loop work while
// the benchmarks run on the message thread.

#include "core/infra/Diagnostics.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

namespace korva
{

int runProgram (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    // Traces (a refused request, say) would be timed along with the work.
    infra::diagnostics::setStandardErrorEnabled (false);
    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace korva

int main (int argc, char** argv)
{
    return korva::runProgram (argc, argv);
}
