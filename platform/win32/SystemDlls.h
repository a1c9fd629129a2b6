// Where the Windows programs of this build take their DLLs from.
#pragma once

namespace velo {

// Called first thing by each program: from then on every DLL the process loads by name, itself
// or through a system DLL, comes from the system folder only, never from the program's folder
// or the current one. It also loads CNG (bcrypt.dll, not one of the system's known DLLs) from
// the system folder for the image digest and keeps it for the life of the process. False when
// either step failed; the program goes on, and a digest asked for is then nothing.
bool useSystemDllsOnly();

}  // namespace velo
