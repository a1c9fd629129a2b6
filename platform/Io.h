// What discovery and the transports need of the outside world: the machine, and the output
// channels on which they print their lines.
#pragma once

namespace velo {

class Platform;
class Console;

struct Io {
    Platform& platform;
    Console& console;
};

}  // namespace velo
