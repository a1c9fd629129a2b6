#include "sim/DefaultMachine.h"

extern "C" const char veloDefaultMachine[];
extern "C" const char veloDefaultMachineEnd[];

namespace velo::sim {

std::string_view defaultMachineText() {
    return {veloDefaultMachine,
            static_cast<std::size_t>(veloDefaultMachineEnd - veloDefaultMachine)};
}

}  // namespace velo::sim
