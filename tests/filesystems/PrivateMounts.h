#pragma once

// File systems that fail as a user's do, for the tests of what the program
// says then: a tiny tmpfs that fills up, a folder mounted read-only. The
// test executable makes its mounts its own at the start (a private mount
// namespace, before any thread exists), so that they change nothing outside
// it; its child processes (the korva tool, korva-sim) see them too.

#include "tests/support/HidrawKorva.h"

#include <juce_core/juce_core.h>

#include <string>

namespace korva
{

namespace test
{

// Called first thing in main: moves the process into a mount namespace of
// its own. Where that cannot be done, the tests that need it learn why.
void enterPrivateMounts();

// Empty when the tests can mount and hand files to another user here (as
// root, in the private namespace); otherwise the reason they cannot.
std::string privateMountsUnavailable();

// A mount over `folder` for as long as this lives.
class ScopedMount
{
public:
    // A tmpfs of `bytes` (whole pages) mode 0755.
    static ScopedMount tmpfs (const juce::File& folder, int bytes);
    // The folder itself again, read-only.
    static ScopedMount readOnly (const juce::File& folder);

    ScopedMount (ScopedMount&& other) noexcept;
    ~ScopedMount();

    bool ok() const noexcept { return m_error.empty(); }
    const std::string& error() const noexcept { return m_error; }

private:
    ScopedMount (juce::File folder, std::string error);

    juce::File m_folder;
    std::string m_error;
};

} // namespace test

// Where the mounts cannot be made (or files handed to another user).
#define KORVA_REQUIRE_PRIVATE_MOUNTS() KORVA_REQUIRE ("failing file systems", korva::test::privateMountsUnavailable())

} // namespace korva
