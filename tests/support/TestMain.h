#pragma once

#include <functional>

namespace korva
{

namespace test
{
// Runs every test inside a JUCE initialiser; `prepare` runs once before them.
int runAllTests (int argc, char** argv, const std::function<void()>& prepare);
} // namespace test

} // namespace korva
