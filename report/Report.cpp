#include "report/Report.h"

#include <algorithm>

#include "platform/Console.h"
#include "platform/Text.h"
#include "report/TimeString.h"

namespace velo {

namespace {

constexpr std::string_view UPDATED_TEXT = "Updated firmware successfully.\n";
constexpr std::string_view REBOOT_LOG_TEXT =
    "Downloaded firmware successfully, but firmware activation requires reboot.\n";
constexpr std::wstring_view REBOOT_MESSAGE_TEXT =
    L"Downloaded firmware successfully, \nbut firmware activation requires reboot.\n";
constexpr std::string_view FAILED_TEXT = "Unable to update firmware.\n";
// Only a /resume run leaves a disk alone for its current firmware.
constexpr std::string_view CURRENT_TEXT = "Firmware is current; nothing was sent.\n";
constexpr std::string_view WAITING_TEXT =
    "Firmware waits for activation at the drive's next reset; nothing was sent.\n";
constexpr std::string_view ALL_CURRENT_TEXT =
    "Every drive runs, or waits to run, the current firmware.\n";

std::wstring wide(std::string_view ascii) {
    return widenBytes(ascii);
}

// 1 outranks 1602, which outranks 0, whatever the order of the disks.
std::int32_t foldResult(std::int32_t runCode, std::int32_t diskCode) {
    if (diskCode == RETURN_SUCCESS)
        return runCode;
    if (diskCode == RETURN_REBOOT_REQUIRED) {
        return runCode == RETURN_FAILED ? RETURN_FAILED : RETURN_REBOOT_REQUIRED;
    }
    return RETURN_FAILED;
}

}  // namespace

ReportTexts buildReportTexts(const ReportFacts& facts) {
    ReportTexts texts;
    std::string& log = texts.logText;
    std::wstring& message = texts.messageText;
    const std::string updatedRevision = lowBytes(facts.updatedRevision);

    log += "Start Time : " + lowBytes(facts.startTime) + "\n";
    log += "End Time : " + lowBytes(facts.endTime) + "\n";
    log += "Input Command : " + lowBytes(facts.inputCommand) + "\n";
    message += L"Updated Firmware Version : " + facts.updatedRevision + L"\n";

    if (facts.disks.empty()) {
        log += "[No Disk]\n";
        log += "Updated Firmware Version : " + updatedRevision + "\n";
        log += "Return Code : 1\n";
        log += "Result Details : No disks are available for download.\n";
        texts.returnCode = RETURN_FAILED;
        message += L"[No Disk]\nNo disks are available for download.\n";
    } else {
        texts.returnCode = RETURN_SUCCESS;
        int number = 0;
        for (const DiskRecord& disk : facts.disks) {
            const std::string index = std::to_string(++number);
            log += "\n[Disk #" + index + "]\n";
            log += "Model Number : " + lowBytes(disk.modelNumber) + "\n";
            log += "Serial Number : " + lowBytes(disk.serialNumber) + "\n";
            log += "Current Firmware Version : " + lowBytes(disk.firmwareRevision) + "\n";
            log += "Updated Firmware Version : " + updatedRevision + "\n";
            log += "Return Code : " + std::to_string(disk.resultCode) + "\n";
            log += "Result Details : ";

            // A message box stops at the first NUL of its text, so texts that come from the
            // drive are cut there; the log keeps every character.
            message += L"\n[Disk #" + wide(index) + L"]\n";
            message +=
                L"Serial Number : " + std::wstring(beforeFirstNul(disk.serialNumber)) + L"\n";
            message += L"Current Firmware Version : " +
                       std::wstring(beforeFirstNul(disk.firmwareRevision)) + L"\n";
            message += L"Updated Firmware Version : " + facts.updatedRevision + L"\n";

            if (disk.firmwareState != FirmwareState::Unchecked) {
                const std::string_view text =
                    disk.firmwareState == FirmwareState::Current ? CURRENT_TEXT : WAITING_TEXT;
                log += text;
                message += wide(text);
            } else if (disk.resultCode == RETURN_SUCCESS) {
                log += UPDATED_TEXT;
                message += wide(UPDATED_TEXT);
            } else if (disk.resultCode == RETURN_REBOOT_REQUIRED) {
                log += REBOOT_LOG_TEXT;
                message += REBOOT_MESSAGE_TEXT;
            } else {
                log += FAILED_TEXT;
                message += wide(FAILED_TEXT);
            }
            texts.returnCode = foldResult(texts.returnCode, disk.resultCode);
        }
    }

    log += "\n[Final Result]\n";
    log += "Return Code : " + std::to_string(texts.returnCode) + "\n";
    message += L"\n[Final Result]\n";
    const bool allCurrent =
        !facts.disks.empty() &&
        std::all_of(facts.disks.begin(), facts.disks.end(), [](const DiskRecord& disk) {
            return disk.firmwareState != FirmwareState::Unchecked;
        });
    if (allCurrent) {
        log += "Result Details : " + std::string(ALL_CURRENT_TEXT);
        message += wide(ALL_CURRENT_TEXT);
    } else if (texts.returnCode == RETURN_SUCCESS) {
        log += "Result Details : " + std::string(UPDATED_TEXT);
        message += wide(UPDATED_TEXT);
    } else if (texts.returnCode == RETURN_REBOOT_REQUIRED) {
        log += "Result Details : " + std::string(REBOOT_LOG_TEXT);
        message += L"Result Details : " + std::wstring(REBOOT_MESSAGE_TEXT);
    } else {
        log += "Result Details : " + std::string(FAILED_TEXT);
        message += wide(FAILED_TEXT);
    }
    return texts;
}

std::wstring makeMessageCaption(std::wstring_view toolTitle) {
    return L"VANTORA " + std::wstring(toolTitle);
}

std::int32_t reportResults(Io& io, ReportFacts& facts) {
    facts.endTime = widenBytes(makeTimeString(io.platform));
    const ReportTexts texts = buildReportTexts(facts);

    if (!facts.logFilePath.empty()) {
        // A log that cannot be written does not change the run's outcome, but the person who
        // asked for it is told, on standard error, where and why.
        const FileWriteResult written = io.platform.writeTextFile(facts.logFilePath, texts.logText);
        if (!written) {
            io.platform.writeErrorOutput("velo: the result log " + visibleText(facts.logFilePath) +
                                         " cannot be written: " + written.failure + "\n");
        }
    }

    io.console.wide << lineEnd;
    io.console.wide << L" >> VELO Ended (Return Code : " << texts.returnCode << L")" << lineEnd;
    io.console.wide << lineEnd;

    if (!facts.silent) {
        io.platform.showMessage(makeMessageCaption(facts.toolTitle), texts.messageText);
    }
    return texts.returnCode;
}

}  // namespace velo
