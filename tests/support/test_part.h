// A part of a test that must run in a process of its own, started from a copy of the test
// program (a test that drops its rights cannot always reach the program where it was built).
// The part is registered by name; main runs it, and only it, when the command line names it.
#pragma once

#include <optional>
#include <string>

namespace purgelet::testing {

// What a part does with its one argument; the result is the process's exit code.
using TestPart = int (*)(const std::string& argument);

// Registers a part (from a static initialiser); returns true.
bool RegisterTestPart(const std::string& name, TestPart part);

// The command line that runs a part: the program, "--test-part=NAME", the argument.
inline std::string TestPartFlag(const std::string& name) {
    return "--test-part=" + name;
}

// Called by main: when argv names a part (as above), its exit code; else nothing. A part
// that is not registered ends with 125.
std::optional<int> RunRequestedTestPart(int argc, char** argv);

} // namespace purgelet::testing
