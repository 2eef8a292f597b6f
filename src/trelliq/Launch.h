#pragma once
// What the program does once the simulated Mac stands: a self-test mode when the
// command line selects one, else the normal start.

#include <string>
#include <vector>

namespace trelliq {

/// Runs the selected mode or the normal start; the process's exit status.
int launch(const std::vector<std::string>& args);

}  // namespace trelliq
