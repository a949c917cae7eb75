#pragma once

// Reporting for the whole program: traces to the debug output, reports that
// also go to "log.txt", the one-line assertion reports, and the liveness mark
// that guards calls through pointers which may have outlived their object.

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>

namespace korva
{

namespace infra
{

// Plain trace to the debug output: the output hook, and standard error when
// traces are asked for (setTracesToStandardError).
void debugPrint (const char* text);

// printf-style trace; the text is cut at 1039 characters.
void debugPrintf (const char* format, ...) __attribute__ ((format (printf, 1, 2)));

// printf-style report (a warning or an error): appended to the log file
// (unless a debugger is attached), then written to the debug output and to
// standard error, asked for or not.
void logPrintf (const char* format, ...) __attribute__ ((format (printf, 1, 2)));

// "<function> - <condition>" when the condition is false; yields the condition.
inline bool verify (bool ok, const char* function, const char* conditionText)
{
    if (! ok)
        logPrintf ("%s - %s", function, conditionText);
    return ok;
}

// "<function> - 1": an operation failed without a condition to name.
inline void reportFailure (const char* function)
{
    logPrintf ("%s - %d", function, 1);
}

// The condition text is the source text, exactly as written.
#define INFRA_VERIFY(function, condition) ::korva::infra::verify ((condition), (function), #condition)

// The running program's own file. JUCE's "current executable" is the file its
// own code was loaded from, which for us is the shared JUCE library.
juce::File executableFile();

namespace diagnostics
{
constexpr int kFormatBufferSize = 1040;
constexpr juce::int64 kLogSizeLimit = 65536;

// Where reports are appended. Resolved on the first report: "log.txt" beside
// the executable, or in the per-user "MELDRA/KORVA Manager" folder when the
// executable's folder cannot be written.
juce::File getLogFile();
void setLogFile (const juce::File& file);

// Starts a new run as far as the log's blank-line separator is concerned.
void resetFirstWrite();

// Overrides the debugger check: 1 attached, 0 not attached, -1 ask the system.
void setDebuggerPresentOverride (int attached);
bool isDebuggerPresent();

// Receives every text that goes to the debug output, traces and reports.
using OutputHook = std::function<void (const char*)>;
void setOutputHook (OutputHook hook);
// Whether anything reaches standard error (reports and, if asked for, traces).
void setStandardErrorEnabled (bool enabled);
// Whether traces reach standard error too; off by default, so that a
// terminal shows warnings and errors only.
void setTracesToStandardError (bool enabled);
// KORVA_TRACE set to anything but "" or "0": the user asks for the traces.
bool tracesRequestedByEnvironment();
} // namespace diagnostics

//==============================================================================
// A liveness mark. Classes whose objects may be reached through stale
// pointers derive from it; QVS_EXISTS tells a live object from a dead one.
//
// Every mark is also entered in a process-wide registry while it lives, so
// the check never has to read memory that may already have been freed: it
// only compares the address with the registry. The base is non-virtual, so
// converting a pointer to it is plain address arithmetic.
class ExistenceConfirmable
{
public:
    static constexpr std::uint32_t kLiveMark = 0x5E715E28;

    ExistenceConfirmable() noexcept;
    ExistenceConfirmable (const ExistenceConfirmable&) noexcept;
    ExistenceConfirmable& operator= (const ExistenceConfirmable&) noexcept { return *this; }
    ~ExistenceConfirmable();

    static bool isLive (const ExistenceConfirmable* mark) noexcept;

private:
    std::uint32_t m_mark;
};

template <typename T>
bool existsCheck (const T* p) noexcept
{
    if (p == nullptr || (reinterpret_cast<std::uintptr_t> (p) & 3u) != 0)
        return false;

    return ExistenceConfirmable::isLive (static_cast<const ExistenceConfirmable*> (p));
}

} // namespace infra

#define QVS_EXISTS(p) (::korva::infra::existsCheck (p))

} // namespace korva
