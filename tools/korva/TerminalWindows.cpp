// The console on Windows: the console control handler, binary standard
// streams, the console's size and a thread that reads standard input.

#include "tools/korva/Terminal.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <thread>

#ifndef NOMINMAX
 #define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

namespace korva
{

namespace tool
{

namespace terminal
{

namespace
{
std::atomic<void (*)()> g_handler { nullptr };
UINT g_previousCodePage = 0;

BOOL WINAPI onConsoleEvent (DWORD event)
{
    if (const auto handler = g_handler.load())
        handler();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        return TRUE;
    // The console window is closing (or the user logs off): Windows ends the
    // process as soon as this returns, so it waits here while the command
    // ends its transfer; Windows ends it after a few seconds in any case.
    ::Sleep (INFINITE);
    return TRUE;
}

void restoreCodePage()
{
    if (g_previousCodePage != 0)
        ::SetConsoleOutputCP (g_previousCodePage);
}

FILE* streamOf (Stream stream)
{
    switch (stream)
    {
        case Stream::kInput: return stdin;
        case Stream::kOutput: return stdout;
        case Stream::kError:
        default: return stderr;
    }
}

bool consoleSize (DWORD which, CONSOLE_SCREEN_BUFFER_INFO& info)
{
    return ::GetConsoleScreenBufferInfo (::GetStdHandle (which), &info) != 0;
}

// Standard input, read by a thread of its own: neither a pipe nor a file can
// be waited for with a time-out, and a console signals every key and mouse
// event, not only typed text. The reader lives until the process ends (it
// may be inside ReadFile then), so it is never deleted.
struct InputReader
{
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<char> bytes;
    bool ended = false;

    InputReader()
    {
        std::thread ([this] { run(); }).detach();
    }

    void run()
    {
        const HANDLE input = ::GetStdHandle (STD_INPUT_HANDLE);
        for (;;)
        {
            char byte = 0;
            DWORD got = 0;
            // Ctrl+C ends a console read without input: it is read again.
            if (! ::ReadFile (input, &byte, 1, &got, nullptr) && ::GetLastError() == ERROR_OPERATION_ABORTED)
                continue;
            const std::lock_guard<std::mutex> guard (lock);
            if (got == 0)
                ended = true;
            else
                bytes.push_back (byte);
            arrived.notify_all();
            if (ended)
                return;
        }
    }
};
} // namespace

std::vector<std::string> arguments (int argc, char** argv)
{
    std::vector<std::string> args;
    int count = 0;
    if (LPWSTR* words = ::CommandLineToArgvW (::GetCommandLineW(), &count))
    {
        for (int i = 1; i < count; ++i)
            args.push_back (juce::String (words[i]).toStdString());
        ::LocalFree (words);
        return args;
    }
    for (int i = 1; i < argc; ++i)
        args.emplace_back (argv[i]);
    return args;
}

void prepareStandardStreams()
{
    for (FILE* stream : { stdin, stdout, stderr })
        ::_setmode (::_fileno (stream), _O_BINARY);

    // The tool writes UTF-8 (the piano roll's characters); a console shows
    // it as such in its UTF-8 code page, and gets its own back at the end.
    const UINT codePage = ::GetConsoleOutputCP();
    if (codePage != 0 && codePage != CP_UTF8 && ::SetConsoleOutputCP (CP_UTF8))
    {
        g_previousCodePage = codePage;
        std::atexit (restoreCodePage);
    }
}

void onInterrupt (void (*handler)())
{
    void (*none)() = nullptr;
    if (g_handler.compare_exchange_strong (none, handler))
        ::SetConsoleCtrlHandler (onConsoleEvent, TRUE);
}

bool isTerminal (Stream stream)
{
    const int descriptor = ::_fileno (streamOf (stream));
    if (descriptor < 0 || ! ::_isatty (descriptor))
        return false;
    // The null device is a character device too, but no console.
    DWORD mode = 0;
    return ::GetConsoleMode ((HANDLE) ::_get_osfhandle (descriptor), &mode) != 0;
}

int outputColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (! consoleSize (STD_OUTPUT_HANDLE, info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string eraseLine()
{
    DWORD mode = 0;
    if (::GetConsoleMode (::GetStdHandle (STD_ERROR_HANDLE), &mode)
        && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0)
        return "\r\033[K";
    // A console that takes no escape sequences: the line is overwritten
    // with blanks, short of the last column (which would wrap).
    CONSOLE_SCREEN_BUFFER_INFO info {};
    const int columns = consoleSize (STD_ERROR_HANDLE, info) ? info.dwSize.X : 80;
    return "\r" + std::string ((size_t) juce::jmax (0, columns - 1), ' ') + "\r";
}

Input readByte (int timeoutMs, char& byte)
{
    static InputReader& reader = *new InputReader();
    std::unique_lock<std::mutex> guard (reader.lock);
    reader.arrived.wait_for (guard, std::chrono::milliseconds (timeoutMs),
                             [] { return ! reader.bytes.empty() || reader.ended; });
    if (! reader.bytes.empty())
    {
        byte = reader.bytes.front();
        reader.bytes.pop_front();
        return Input::kByte;
    }
    return reader.ended ? Input::kEnd : Input::kNothingYet;
}

} // namespace terminal

} // namespace tool

} // namespace korva
