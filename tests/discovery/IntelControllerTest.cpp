// Controller classification: the Intel RAID port, the candidates behind Intel controllers and
// the bus number of a pass-through disk.
#include "discovery/IntelController.h"

#include <gtest/gtest.h>

namespace velo {
namespace {

TEST(IntelController, BusNumberTexts) {
    struct Case {
        const wchar_t* text;
        int expected;
    };
    const Case cases[] = {
        {L"Bus Number 3, Target Id 0, LUN 0", 3},
        {L"Bus Number 12, Target Id 0, LUN 0", 12},
        {L"Bus Number   7, Target Id 0, LUN 0", 7},  // blanks before the number are skipped
        {L"Bus Number 2147483647, Target Id 0", 2147483647},
        {L"Bus Number , Target Id 0, LUN 0", 0},  // no digit after the second blank
        {L"Bus Number x3, Target Id 0", 0},
        {L"Bus Number -3, Target Id 0", 0},  // digits only, no sign
        {L"PCI Bus Number 3, Target Id 0", 0},
        {L"Bus Number 3 Target Id 0 LUN 0", -1},      // no comma
        {L"Port 1, Bus Number 3, Target Id 0", -1},   // one blank before the first comma
        {L"Bus Number 2147483648, Target Id 0", -1},  // too large for an int
        {L"Bus Number 99999999999999999999999, Target Id 0", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseBusNumber(c.text), c.expected) << std::wstring(c.text).size();
    }
}

}  // namespace
}  // namespace velo
