#pragma once

#include <functional>

namespace korvatest
{
// Runs every test inside a JUCE initialiser; `prepare` runs once before them.
int runAllTests (int argc, char** argv, const std::function<void()>& prepare);
} // namespace korvatest
