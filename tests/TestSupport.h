// Shared pieces of the tests: simulated machines from JSON text and scratch files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/Text.h"
#include "sim/Machine.h"
#include "sim/SimPlatform.h"

namespace velo::test {

inline constexpr std::string_view EMPTY_MACHINE = R"({ "format": "velo-machine", "version": 1 })";

inline std::unique_ptr<sim::SimPlatform> makeSimPlatform(std::string_view machineJson) {
    std::string error;
    auto machine = sim::loadMachineText(machineJson, "test machine", error);
    EXPECT_TRUE(machine) << error;
    if (!machine)
        return nullptr;
    machine->keepHistory(true);
    auto platform = std::make_unique<sim::SimPlatform>(std::move(machine));
    platform->setClock(LocalTime{2026, 12, 7, 13, 47, 38});
    return platform;
}

// A folder of its own under the system's temporary folder, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("velo-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::wstring widePath(const std::filesystem::path& path) {
    return fromUtf8(path.string());
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text of examples/<name>.json.
inline std::string exampleText(const std::string& name) {
    return readBytes(std::filesystem::path(VELO_SOURCE_DIR) / "examples" / (name + ".json"));
}

}  // namespace velo::test
