// dio_sim --tool: dioctl's commands against the simulated board.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace diosim {

// Starts a board of the model, runs each command line with dioctl, firing
// `lines` (by default every DI line behind an event) during a watch, then
// removes the board. Returns the first non-zero exit code of a command, or
// 1 when something was left behind; 0 otherwise.
int RunToolSession(uint32_t model, const std::vector<std::string> &commandLines, std::vector<int> lines);

}  // namespace diosim
