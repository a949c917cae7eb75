// korva-sim's side: what the virtual KORVA does with the computer's
// requests. A fresh device (its store restored when an input changed it)
// takes a run of requests, either as whole messages handed to its model or
// as the 64-byte reports of the transfer protocol, with time passing between
// them. Input: the model's switches (1 byte), the level (1 byte: bit 0 set
// for reports), then per request
//   messages: type (1), payload length (2, big-endian), payload;
//   reports:  milliseconds passed / 10 (1), the report (64).

#include "fuzz/FuzzSupport.h"
#include "tools/korva-sim/DeviceLink.h"
#include "tools/korva-sim/DeviceModel.h"

#include <cstdlib>

namespace
{
using namespace korva;

constexpr int kMaxRequests = 64;

sim::ModelSwitches switchesFrom (uint8_t bits)
{
    sim::ModelSwitches s;
    s.busy = (bits & 0x01) != 0;
    s.refuse = (bits & 0x02) != 0;
    s.noRoom = (bits & 0x04) != 0;
    s.slowJobs = (bits & 0x08) != 0;
    s.oldFirmware = (bits & 0x10) != 0;
    s.patternFormat = "3243"[(bits >> 5) & 0x03];
    if ((bits & 0x80) != 0)
    {
        s.garble = static_cast<sim::Garble> (1 + ((bits >> 5) % 3));
        s.busyImport = bits & 0x07;
    }
    return s;
}

// Requests that change what the device stores.
bool changesStore (uint8_t type)
{
    return type == 0x01 || type == 0x02 || type == 0x05 || type == 0x33;
}

struct Stores
{
    juce::File pristine, working;
    bool dirty = true;

    Stores()
    {
        const auto scratch = fuzz::scratchFolder ("sim");
        pristine = scratch.getChildFile ("pristine");
        working = scratch.getChildFile ("working");
        sim::DeviceModel seeding ({pristine.getFullPathName().toStdString(), 4096, {}});
        std::string error;
        if (!seeding.open (error))
            std::abort();
    }

    // The working store as a new device finds it.
    void restore()
    {
        if (!dirty)
            return;
        working.deleteRecursively();
        if (!pristine.copyDirectoryTo (working))
            std::abort();
        dirty = false;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, std::size_t size)
{
    static Stores stores;
    stores.restore();

    fuzz::ByteReader input (data, size);
    sim::DeviceModel model ({stores.working.getFullPathName().toStdString(), 4096, {}});
    std::string error;
    if (!model.open (error))
        std::abort();
    model.setSwitches (switchesFrom (input.u8()));
    const bool reports = (input.u8() & 0x01) != 0;

    if (!reports)
    {
        for (int n = 0; n < kMaxRequests && !input.atEnd(); ++n)
        {
            sim::Message request;
            request.type = input.u8();
            const auto payload = input.take (input.u16());
            request.payload.assign (payload.first, payload.first + payload.second);
            stores.dirty = stores.dirty || changesStore (request.type);
            model.answer (request);
        }
        return 0;
    }

    sim::DeviceLink link ({},
                          [&] (const sim::Message& request)
                          {
                              stores.dirty = stores.dirty || changesStore (request.type);
                              return model.answer (request);
                          },
                          {});
    std::int64_t now = 0;
    for (int n = 0; n < kMaxRequests && !input.atEnd(); ++n)
    {
        now += 10 * input.u8();
        link.tick (now);
        const auto report = input.take (sim::kMessageSize);
        link.receive (report.first, report.second, now);
    }
    // Whatever still waits runs out.
    for (int n = 0; n < 16 && link.nextDeadline() >= 0; ++n)
        link.tick (link.nextDeadline());
    return 0;
}
