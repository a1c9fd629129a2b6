#include "app/List.h"

#include <algorithm>

#include "app/ImageCatalogue.h"
#include "app/Passes.h"
#include "platform/Console.h"
#include "platform/Text.h"
#include "report/ResultDocument.h"

namespace velo {

namespace {

// The image whose installed revision this is, if any.
std::optional<int> imageInstalling(const std::wstring& revision) {
    for (int image = 1; image <= IMAGE_COUNT; ++image) {
        if (installedRevision(image) == revision)
            return image;
    }
    return std::nullopt;
}

// Why a target takes no image when its revision selects none.
std::string noGroupReason(const std::wstring& revision) {
    if (auto installed = imageInstalling(revision)) {
        return "already at revision " + printableAscii(revision) + ", which image " +
               std::to_string(*installed) + " installs";
    }
    return "revision " + printableAscii(revision) + " is in no image group";
}

std::string driverLine(DriverKind kind) {
    switch (kind) {
        case DriverKind::Inbox:
            return "Windows inbox NVMe driver";
        case DriverKind::RstRaid:
        case DriverKind::RstPassThrough:
            return "Intel RST driver";
        case DriverKind::VrocRaidMember:
        case DriverKind::VrocNonRaid:
            return "Intel VROC driver";
        case DriverKind::None:
            break;
    }
    return "none";
}

}  // namespace

std::vector<PlannedImage> planImages(const DiskList& targets) {
    std::vector<PlannedImage> plan;
    if (targets.empty())
        return plan;
    const std::optional<int> loaded = selectImageForRevision(targets.front().firmwareRevision);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const std::wstring& revision = targets[i].firmwareRevision;
        if (!loaded) {
            plan.push_back({std::nullopt, i == 0 ? noGroupReason(revision)
                                                 : "the first disk's revision selects no image"});
            continue;
        }
        // The update pass's own rule; the reasons below only tell why a target is left out.
        const std::optional<int> own = selectImageForRevision(revision);
        if (takesImage(*loaded, revision)) {
            plan.push_back({loaded, {}});
        } else if (own) {
            plan.push_back({std::nullopt, "revision " + printableAscii(revision) +
                                              " selects image " + std::to_string(*own) +
                                              ", another than image " + std::to_string(*loaded) +
                                              " of the first disk"});
        } else {
            plan.push_back({std::nullopt, noGroupReason(revision)});
        }
    }
    return plan;
}

int listTargets(Platform& platform, const RunOptions& options) {
    Console console(platform);
    Io io{platform, console};
    platform.startUp();

    DiskScanner scanner;
    DiskList targets;
    runScanPass(io, scanner, targets);
    std::vector<PlannedImage> plan = planImages(targets);
    // The image is checked as a run checks it before sending it; a damaged one goes to no disk.
    const auto taking = std::find_if(plan.begin(), plan.end(), [](const PlannedImage& planned) {
        return planned.image.has_value();
    });
    if (taking != plan.end()) {
        const int image = *taking->image;
        if (auto damage = imageDamage(platform, image, embeddedImage(image))) {
            for (PlannedImage& planned : plan) {
                if (planned.image)
                    planned = {std::nullopt, "firmware " + damage->finding};
            }
        }
    }

    std::string text = "\n >> VELO List \n\n";
    std::size_t updating = 0;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const DiskRecord& disk = targets[i];
        text += "[Disk #" + std::to_string(i + 1) + "]\n";
        text += "Driver : " + driverLine(disk.driverKind) + "\n";
        text += "Kind : " + driverKindName(disk.driverKind) + "\n";
        text += "Device Path : " + printableAscii(disk.devicePath) + "\n";
        text += "Model Number : " + printableAscii(disk.modelNumber) + "\n";
        text += "Serial Number : " + printableAscii(disk.serialNumber) + "\n";
        text += "Current Firmware Version : " + printableAscii(disk.firmwareRevision) + "\n";
        if (plan[i].image) {
            ++updating;
            text += "Image : " + std::to_string(*plan[i].image) + ", installs " +
                    printableAscii(installedRevision(*plan[i].image)) + "\n\n";
        } else {
            text += "Image : none, " + plan[i].reason + "\n\n";
        }
    }
    if (targets.empty())
        text += "[No Disk]\n\n";
    text += " >> VELO List Ended (" + std::to_string(targets.size()) + " disks, " +
            std::to_string(updating) + " to update)\n\n";

    console.write(text);
    console.flush();
    if (!options.logFilePath.empty()) {
        const FileWriteResult written = platform.writeTextFile(options.logFilePath, text);
        if (!written) {
            platform.writeErrorOutput("velo: the log " + visibleText(options.logFilePath) +
                                      " cannot be written: " + written.failure + "\n");
        }
    }
    if (!options.exitCodeFollowsResult)
        return 0;
    return updating > 0 ? EXIT_UPDATED : EXIT_FAILED;
}

}  // namespace velo
