#include "core/infra/Diagnostics.h"

#include "core/infra/UserFolders.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <mutex>
#include <unordered_set>

namespace korva
{

namespace infra
{
namespace
{
struct LogState
{
    std::mutex mutex;
    bool resolved = false;
    juce::File file;
    bool firstWrite = true;
};

LogState& logState()
{
    static auto* state = new LogState(); // lives until the process ends
    return *state;
}

struct OutputState
{
    std::mutex mutex;
    diagnostics::OutputHook hook;
    bool toStandardError = true;
    bool tracesToStandardError = false;
};

OutputState& outputState()
{
    static auto* state = new OutputState();
    return *state;
}

std::atomic<int> debuggerOverride { -1 };

juce::File resolveLogFile()
{
    auto beside = executableFile().getParentDirectory();

    if (beside.isDirectory() && beside.hasWriteAccess())
        return beside.getChildFile ("log.txt");

    // An installed program cannot write beside itself: use the per-user folder.
    auto perUser = infra::UserFolders::applicationData()
                       .getChildFile ("MELDRA")
                       .getChildFile ("KORVA Manager");
    perUser.createDirectory();
    return perUser.getChildFile ("log.txt");
}

void appendToLog (const char* text)
{
    auto& state = logState();
    std::lock_guard<std::mutex> lock (state.mutex);

    if (! state.resolved)
    {
        state.file = resolveLogFile();
        state.resolved = true;
    }

    juce::String line;
    if (state.firstWrite)
    {
        state.firstWrite = false;
        line << "\r\n\r\n";
    }

    line << juce::Time::getCurrentTime().formatted ("%m/%d %H:%M:%S: ") << juce::String::fromUTF8 (text) << "\r\n";

    auto& file = state.file;
    if (file == juce::File())
        return;

    if (file.existsAsFile() && file.getSize() > diagnostics::kLogSizeLimit)
        file.deleteFile(); // failures are ignored: the trace still goes out

    juce::FileOutputStream out (file);
    if (out.openedOk())
    {
        out.writeText (line, false, false, nullptr);
        out.flush();
    }
}

void vformat (char (&buffer)[diagnostics::kFormatBufferSize], const char* format, va_list args)
{
    // vsnprintf never writes past the buffer and always terminates it.
    const int n = std::vsnprintf (buffer, sizeof (buffer), format, args);
    if (n < 0)
        buffer[0] = 0;
}
} // namespace

juce::File executableFile()
{
    const auto self = juce::File ("/proc/self/exe").getLinkedTarget();
    return self.existsAsFile() ? self : juce::File::getSpecialLocation (juce::File::currentExecutableFile);
}

namespace
{
void writeToDebugOutput (const char* text, bool isReport)
{
    if (text == nullptr)
        text = "";

    auto& state = outputState();
    diagnostics::OutputHook hook;
    bool toStandardError;
    {
        std::lock_guard<std::mutex> lock (state.mutex);
        hook = state.hook;
        toStandardError = state.toStandardError && (isReport || state.tracesToStandardError);
    }

    if (toStandardError)
        std::cerr << text << std::endl; // as JUCE's Linux debug output, on every system

    if (hook)
        hook (text);
}
} // namespace

void debugPrint (const char* text)
{
    writeToDebugOutput (text, false);
}

void debugPrintf (const char* format, ...)
{
    char buffer[diagnostics::kFormatBufferSize];
    va_list args;
    va_start (args, format);
    vformat (buffer, format, args);
    va_end (args);
    debugPrint (buffer);
}

void logPrintf (const char* format, ...)
{
    char buffer[diagnostics::kFormatBufferSize];
    va_list args;
    va_start (args, format);
    vformat (buffer, format, args);
    va_end (args);

    if (! diagnostics::isDebuggerPresent())
        appendToLog (buffer);

    writeToDebugOutput (buffer, true);
}

namespace diagnostics
{
juce::File getLogFile()
{
    auto& state = logState();
    std::lock_guard<std::mutex> lock (state.mutex);
    if (! state.resolved)
    {
        state.file = resolveLogFile();
        state.resolved = true;
    }
    return state.file;
}

void setLogFile (const juce::File& file)
{
    auto& state = logState();
    std::lock_guard<std::mutex> lock (state.mutex);
    state.file = file;
    state.resolved = true;
}

void resetFirstWrite()
{
    auto& state = logState();
    std::lock_guard<std::mutex> lock (state.mutex);
    state.firstWrite = true;
}

void setDebuggerPresentOverride (int attached)
{
    debuggerOverride = attached;
}

bool isDebuggerPresent()
{
    const int forced = debuggerOverride.load();
    if (forced >= 0)
        return forced != 0;
    return juce::juce_isRunningUnderDebugger();
}

void setOutputHook (OutputHook hook)
{
    auto& state = outputState();
    std::lock_guard<std::mutex> lock (state.mutex);
    state.hook = std::move (hook);
}

void setStandardErrorEnabled (bool enabled)
{
    auto& state = outputState();
    std::lock_guard<std::mutex> lock (state.mutex);
    state.toStandardError = enabled;
}

void setTracesToStandardError (bool enabled)
{
    auto& state = outputState();
    std::lock_guard<std::mutex> lock (state.mutex);
    state.tracesToStandardError = enabled;
}

bool tracesRequestedByEnvironment()
{
    const char* value = std::getenv ("KORVA_TRACE");
    return value != nullptr && *value != 0 && std::strcmp (value, "0") != 0;
}
} // namespace diagnostics

//==============================================================================
namespace
{
struct MarkRegistry
{
    std::mutex mutex;
    std::unordered_set<const ExistenceConfirmable*> live;
};

MarkRegistry& markRegistry()
{
    static auto* registry = new MarkRegistry(); // must outlive every static object
    return *registry;
}
} // namespace

ExistenceConfirmable::ExistenceConfirmable() noexcept : m_mark (kLiveMark)
{
    auto& registry = markRegistry();
    std::lock_guard<std::mutex> lock (registry.mutex);
    registry.live.insert (this);
}

ExistenceConfirmable::ExistenceConfirmable (const ExistenceConfirmable&) noexcept : ExistenceConfirmable()
{
}

ExistenceConfirmable::~ExistenceConfirmable()
{
    // Volatile access: the compiler would otherwise drop the store of a
    // destructor (the object's lifetime ends) and assume the mark unchanged.
    auto& mark = *static_cast<volatile std::uint32_t*> (&m_mark);
    if (mark != kLiveMark)
        debugPrint ("infra::ExistenceConfirmable::~ExistenceConfirmable");

    {
        auto& registry = markRegistry();
        std::lock_guard<std::mutex> lock (registry.mutex);
        registry.live.erase (this);
    }
    mark = 0;
}

bool ExistenceConfirmable::isLive (const ExistenceConfirmable* mark) noexcept
{
    auto& registry = markRegistry();
    std::lock_guard<std::mutex> lock (registry.mutex);
    // Only a registered mark is read: it cannot be freed while the lock is held,
    // because its destructor takes the same lock first.
    return registry.live.count (mark) != 0 && mark->m_mark == kLiveMark;
}

} // namespace infra

} // namespace korva
