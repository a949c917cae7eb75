#include "tools/korva-sim/LogLine.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace korva
{

namespace sim
{
void writeLogLine (const char* program, const std::string& text)
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto seconds = system_clock::to_time_t (now);
    const auto millis = duration_cast<milliseconds> (now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r (&seconds, &local);
    char stamp[32];
    std::strftime (stamp, sizeof (stamp), "%H:%M:%S", &local);

    static std::mutex lock;
    const std::lock_guard<std::mutex> guard (lock);
    std::fprintf (stderr, "%s %s.%03d %s\n", program, stamp, static_cast<int> (millis), text.c_str());
}
} // namespace sim

} // namespace korva
