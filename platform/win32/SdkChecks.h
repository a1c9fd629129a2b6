// VELO's own copies of Windows identifiers, held against the Windows SDK.
#pragma once

#include <string>
#include <vector>

namespace velo {

// The names of the interface classes and property keys whose VELO values differ from the
// SDK's; empty when they all agree. (Constants the SDK gives as macros are checked when this
// program is compiled.)
std::vector<std::string> sdkIdentifierMismatches();

}  // namespace velo
