#include "core/infra/Diagnostics.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace korva
{

using namespace korva::test;

namespace
{
juce::String readLog (const juce::File& f)
{
    juce::MemoryBlock mb;
    f.loadFileAsData (mb);
    return mb.toString();
}
} // namespace

TEST (Diagnostics, FirstReportOfARunStartsWithABlankLineSeparator)
{
    TempFolder tmp;
    const auto log = tmp / "log.txt";
    ScopedLogFile scoped (log);

    infra::logPrintf ("first %d", 1);
    infra::logPrintf ("%s - %s", "infra::X::y", "cond");

    const auto text = readLog (log).toStdString();
    const std::regex shape ("\r\n\r\n[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: first 1\r\n"
                            "[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: infra::X::y - cond\r\n");
    EXPECT_TRUE (std::regex_match (text, shape)) << text;
}

TEST (Diagnostics, LogRestartsOnlyWhenLargerThanTheLimit)
{
    struct Case
    {
        int existingBytes;
        bool restarted;
    };
    for (const auto c : { Case { 65536, false }, Case { 65537, true } })
    {
        TempFolder tmp;
        const auto log = tmp / "log.txt";
        log.replaceWithData (juce::String::repeatedString ("x", c.existingBytes).toRawUTF8(),
                             (size_t) c.existingBytes);
        ScopedLogFile scoped (log);
        infra::diagnostics::resetFirstWrite();
        infra::logPrintf ("new line");

        const auto text = readLog (log);
        EXPECT_TRUE (text.endsWith (": new line\r\n"));
        if (c.restarted)
        {
            EXPECT_FALSE (text.containsChar ('x')) << c.existingBytes;
        }
        else
        {
            EXPECT_TRUE (text.startsWith (juce::String::repeatedString ("x", c.existingBytes))) << c.existingBytes;
        }
    }
}

TEST (Diagnostics, WithADebuggerAttachedTheLogIsNotTouched)
{
    TempFolder tmp;
    const auto log = tmp / "log.txt";
    ScopedLogFile scoped (log, true);
    DebugOutputCapture capture;

    infra::logPrintf ("only traced");
    EXPECT_FALSE (log.exists());
    EXPECT_TRUE (capture.contains ("only traced"));
}

TEST (Diagnostics, UnwritableLogStillReachesTheDebugOutput)
{
    TempFolder tmp;
    const auto blocked = tmp / "log.txt";
    blocked.createDirectory(); // a folder where the file should be
    ScopedLogFile scoped (blocked);
    DebugOutputCapture capture;

    infra::logPrintf ("still seen");
    EXPECT_TRUE (capture.contains ("still seen"));
    EXPECT_TRUE (blocked.isDirectory());
}

TEST (Diagnostics, LongTextIsTruncatedNotOverflowed)
{
    DebugOutputCapture capture;
    const std::string longText (5000, 'a');
    infra::debugPrintf ("%s%s", longText.c_str(), "tail");

    const auto lines = capture.lines();
    ASSERT_EQ (lines.size(), 1u);
    EXPECT_EQ (lines[0], std::string (1039, 'a'));
}

TEST (Diagnostics, AssertionReportFormats)
{
    TempFolder tmp;
    ScopedLogFile scoped (tmp / "log.txt");
    DebugOutputCapture capture;

    const int* p_task = nullptr;
    EXPECT_FALSE (INFRA_VERIFY ("infra::IAsyncTaskBox::postTask", p_task));
    EXPECT_TRUE (INFRA_VERIFY ("infra::Never::reported", 1 + 1 == 2));
    infra::reportFailure ("infra::TaskDrivenThread::~TaskDrivenThread");

    EXPECT_EQ (capture.lines(), (std::vector<std::string> { "infra::IAsyncTaskBox::postTask - p_task",
                                                             "infra::TaskDrivenThread::~TaskDrivenThread - 1" }));
}

namespace
{
struct Marked : infra::ExistenceConfirmable
{
    int payload = 7;
};

struct Interface : infra::ExistenceConfirmable
{
    virtual ~Interface() = default;
    virtual int value() const = 0;
};

struct Other
{
    virtual ~Other() = default;
    double d = 1.0;
};

struct Implementation : Other, Interface
{
    int value() const override { return 3; }
};
} // namespace

TEST (Diagnostics, ExistenceCheckTellsLiveFromDead)
{
    EXPECT_FALSE (QVS_EXISTS (static_cast<Marked*> (nullptr)));

    alignas (8) static char raw[16] = {};
    EXPECT_FALSE (QVS_EXISTS (reinterpret_cast<Marked*> (raw + 1))); // not a multiple of 4
    EXPECT_FALSE (QVS_EXISTS (reinterpret_cast<Marked*> (raw)));     // never constructed

    auto* live = new Implementation();
    Interface* asInterface = live;
    EXPECT_TRUE (QVS_EXISTS (asInterface));

    delete live; // the memory is gone: the check must not read it
    EXPECT_FALSE (QVS_EXISTS (asInterface));
}

TEST (Diagnostics, DestroyingADeadMarkIsTraced)
{
    DebugOutputCapture capture;
    alignas (Marked) unsigned char storage[sizeof (Marked)];
    auto* m = new (storage) Marked();
    m->~Marked();
    EXPECT_EQ (capture.count ("infra::ExistenceConfirmable::~ExistenceConfirmable"), 0);
    m->~Marked(); // destroyed twice: its mark is already 0
    EXPECT_EQ (capture.count ("infra::ExistenceConfirmable::~ExistenceConfirmable"), 1);
}

TEST (DiagnosticsConcurrency, ReportsFromManyThreadsReachTheLogWhole)
{
    TempFolder tmp;
    const auto log = tmp / "log.txt";
    ScopedLogFile scoped (log);

    constexpr int kThreads = 4, kLines = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back ([t] {
            for (int i = 0; i < kLines; ++i)
                infra::logPrintf ("thread %d line %d %s", t, i, "payload-payload-payload");
        });
    for (auto& t : threads)
        t.join();

    auto lines = juce::StringArray::fromLines (readLog (log));
    lines.removeEmptyStrings();
    ASSERT_EQ (lines.size(), kThreads * kLines);
    const std::regex shape ("[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: thread [0-3] line [0-9]+ "
                            "payload-payload-payload\r?");
    for (const auto& line : lines)
        EXPECT_TRUE (std::regex_match (line.toStdString(), shape)) << line;
}

TEST (DiagnosticsConcurrency, ExistenceChecksRaceWithDestruction)
{
    std::atomic<Marked*> target { new Marked() };
    std::atomic<bool> stop { false };
    std::thread checker ([&] {
        while (! stop)
            (void) QVS_EXISTS (target.load());
    });
    for (int i = 0; i < 2000; ++i)
    {
        auto* old = target.exchange (new Marked());
        delete old;
    }
    stop = true;
    checker.join();
    EXPECT_TRUE (QVS_EXISTS (target.load()));
    delete target.load();
}

} // namespace korva
