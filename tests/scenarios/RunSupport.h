// Shared by the whole-run tests: example machines, the lines a run prints, and a fixture that
// runs the program silently on a simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/ImageCatalogue.h"
#include "app/Run.h"
#include "tests/TestSupport.h"
#include "tests/sim/SimTestSupport.h"

namespace velo::test {

inline nlohmann::json example(const std::string& name) {
    return nlohmann::json::parse(exampleText(name));
}

inline const std::string STARTED = "\n >> VELO Started \n\n";
inline const std::string DOWNLOADED = "\n  [PASS] Firmware download succeeded.\n";

inline std::string ended(int code) {
    return "\n >> VELO Ended (Return Code : " + std::to_string(code) + ")\n\n";
}

// The target banner of a drive at QLR2KAXA given image 1; driverLines are the " Driver : "
// line and, for RST, the " Raid : " line.
inline std::string banner(const std::string& driverLines, const std::string& serial) {
    return "\n---------------------------------------------\n"
           " Firmware Download | Target Disk Information \n"
           "---------------------------------------------\n" +
           driverLines +
           " Model Number : VANTORA QX7B2 1TB                       \n"
           " Serial Number : " +
           serial +
           "  \n"
           " Current FW : QLR2KAXA\n"
           " Updated FW : QLR4KAXA\n"
           "---------------------------------------------\n";
}

class SimulatedRun : public ::testing::Test {
protected:
    void TearDown() override { unloadFirmwareImage(); }

    void run(const nlohmann::json& machine) {
        platform = std::make_unique<sim::SimPlatform>(sim::testing::loadOrFail(machine));
        RunOptions options;
        options.silent = true;
        EXPECT_EQ(runVelo(*platform, options), 0);
    }
    // True when the slot holds the embedded image, byte for byte.
    static bool holdsImage(const sim::NvmeDrive& target, std::uint8_t slot, int image) {
        auto held = target.slotImage(slot);
        auto expected = embeddedImage(image);
        return std::equal(held.begin(), held.end(), expected.begin(), expected.end());
    }
    std::vector<sim::RequestRecord> requestsOf(sim::RequestKind kind) const {
        return platform->machine().requestsOfKind(kind);
    }

    std::unique_ptr<sim::SimPlatform> platform;
};

}  // namespace velo::test
