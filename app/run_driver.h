// The run driver: reads the arguments, tests the source, runs one pipeline and gives the exit
// status.
#pragma once

#include <string>
#include <vector>

namespace uippack {

// Runs one pack or unpack run. arguments holds the program name first, as main receives it.
// Returns the process exit status: 0 after a successful run, -1 otherwise.
int RunDriver(const std::vector<std::wstring>& arguments);

}  // namespace uippack
