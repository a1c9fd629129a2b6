/* A bcrypt.dll that a downloads folder might hold beside velo.exe. When loaded it creates the
   file "planted-bcrypt-loaded" in the current folder. It exports the CNG functions a program
   may import by name, each failing, so that a program importing them starts with it. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#define PLANTED_STATUS_NOT_SUPPORTED ((LONG)0xC00000BBL)

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE marker = CreateFileW(L"planted-bcrypt-loaded", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
        if (marker != INVALID_HANDLE_VALUE)
            CloseHandle(marker);
    }
    return TRUE;
}

__declspec(dllexport) LONG WINAPI BCryptOpenAlgorithmProvider(void) {
    return PLANTED_STATUS_NOT_SUPPORTED;
}
__declspec(dllexport) LONG WINAPI BCryptCloseAlgorithmProvider(void) {
    return PLANTED_STATUS_NOT_SUPPORTED;
}
__declspec(dllexport) LONG WINAPI BCryptCreateHash(void) {
    return PLANTED_STATUS_NOT_SUPPORTED;
}
__declspec(dllexport) LONG WINAPI BCryptHashData(void) {
    return PLANTED_STATUS_NOT_SUPPORTED;
}
__declspec(dllexport) LONG WINAPI BCryptFinishHash(void) {
    return PLANTED_STATUS_NOT_SUPPORTED;
}
__declspec(dllexport) LONG WINAPI BCryptDestroyHash(void) {
    return PLANTED_STATUS_NOT_SUPPORTED;
}
