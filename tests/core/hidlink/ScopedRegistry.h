#pragma once

// The process's registry for the length of a test, on every system.

#include "core/hidlink/HidBackend.h"
#include "core/hidlink/HidLink.h"

#include <memory>
#include <vector>

namespace korva
{

namespace test
{

// Creates the process's registry over the given backends and deletes it at
// the end of the test.
class ScopedRegistry
{
public:
    explicit ScopedRegistry (std::vector<std::shared_ptr<hidlink::HidBackend>> backends)
    {
        hidlink::HidManager::deleteInstance();
        m_registry = hidlink::HidManager::createInstance (std::move (backends));
    }
    ~ScopedRegistry() { hidlink::HidManager::deleteInstance(); }

    hidlink::HidManager* operator->() const noexcept { return m_registry; }
    hidlink::HidManager* get() const noexcept { return m_registry; }

private:
    hidlink::HidManager* m_registry = nullptr;
};

} // namespace test

} // namespace korva
