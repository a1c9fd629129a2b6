#include "entry/Backends.h"

#include <memory>

#include "trace/TracingPlatform.h"

namespace velo {

void offerTracing(LaunchHooks& hooks) {
    hooks.traceRecorder = [](const std::wstring& file) -> std::unique_ptr<TraceRecorder> {
        return TraceFile::create(file);
    };
}

}  // namespace velo
