#pragma once

// Virtual KORVAs in a folder of the test's own: the registry only ever sees
// that folder (never the user's, never hidraw), and $KORVA_VIRTUAL_DIR points
// there too, so nothing can fall back to the real one.

#include "core/hidlink/HidBackend.h"
#include "tests/core/hidlink/FakeBackend.h"
#include "tests/support/TestSupport.h"
#include "tools/korva-sim/VirtualKorva.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace korva
{

namespace test
{

// Sets (or, with null, removes) an environment variable for a scope.
class ScopedEnvironment
{
public:
    ScopedEnvironment (const char* name, const char* value) : m_name (name)
    {
        if (const char* previous = std::getenv (name))
            m_previous = std::string (previous);
        if (value != nullptr)
            ::setenv (name, value, 1);
        else
            ::unsetenv (name);
    }

    ~ScopedEnvironment()
    {
        if (m_previous)
            ::setenv (m_name.c_str(), m_previous->c_str(), 1);
        else
            ::unsetenv (m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

struct VirtualDeviceFixture : ::testing::Test
{
    TempFolder temp;
    const std::string folder = temp.get().getFullPathName().toStdString();
    ScopedEnvironment environment{"KORVA_VIRTUAL_DIR", folder.c_str()};
    std::unique_ptr<ScopedRegistry> scopedRegistry;

    void createRegistry()
    {
        scopedRegistry = std::make_unique<ScopedRegistry> (
            std::vector<std::shared_ptr<hidlink::HidBackend>>{hidlink::makeVirtualBackend (folder)});
    }

    hidlink::HidManager* registry() const { return scopedRegistry->get(); }

    korva::sim::Options deviceOptions (const std::string& name) const
    {
        korva::sim::Options options;
        options.folder = folder;
        options.name = name;
        if (std::getenv ("KORVA_TEST_VERBOSE") != nullptr)
            options.log = [name] (const std::string& text)
            { std::fprintf (stderr, "[%s] %s\n", name.c_str(), text.c_str()); };
        return options;
    }

    std::unique_ptr<korva::sim::VirtualKorva> startDevice (const korva::sim::Options& options)
    {
        auto device = std::make_unique<korva::sim::VirtualKorva> (options);
        std::string error;
        EXPECT_TRUE (device->start (error)) << error;
        return device;
    }
};

} // namespace test

} // namespace korva
