// The machine that the host build runs on without /machine: examples/default.json, built in.
#pragma once

#include <string_view>

namespace velo::sim {

std::string_view defaultMachineText();

}  // namespace velo::sim
