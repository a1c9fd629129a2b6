// How a run is recorded and played back, as the launcher sees it: the trace that /trace writes
// around any machine, and a machine played back from such a trace (/replay). The tracing and
// replaying platforms themselves belong to the entry points that offer them.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/Platform.h"

namespace velo {

// A trace being written.
class TraceRecorder {
public:
    virtual ~TraceRecorder() = default;
    // A platform that passes every call to inner, which must outlive it, and writes each to
    // the trace.
    virtual std::unique_ptr<Platform> wrap(Platform& inner) = 0;
    // Closes the trace. The system's reason when any line could not be written whole;
    // nothing when the trace is complete.
    virtual std::optional<std::string> close() = 0;
};

// Thrown by a call of a played-back machine that departs from its recording; the run ends
// there, and the platform's finish() tells why.
class PlaybackDeparture : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A machine played back from a recording.
class PlaybackPlatform : public Platform {
public:
    // After the run: the first departure, including calls made while objects were released
    // and recorded calls that the run never made; nothing when the run matched its recording.
    virtual std::optional<std::string> finish() = 0;
};

}  // namespace velo
