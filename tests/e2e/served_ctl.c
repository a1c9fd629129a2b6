/*
 * served_ctl.exe: installs, waits for, questions and removes velo_served.sys, the test driver
 * that presents a served machine to velo.exe under wine.
 *
 *   served_ctl install     the kernel-driver service velo_served and its root device
 *                          ROOT\VELO_SERVED\0000; waits (30 s at most) until the driver says
 *                          every device is present
 *   served_ctl wait        only the wait, for a later session in which the driver came back
 *   served_ctl run CMD...  waits, runs the command line CMD... in the same wine session, then
 *                          prints "served N departures M" on stderr; exits with CMD's code
 *   served_ctl remove      removes the root device, then stops and deletes the service
 *   served_ctl departures  prints "served N departures M"; exit 0 when M is 0
 *
 * Exit 0 on success, 1 with one line on stderr naming the failed step.
 */

#include <windows.h>
#include <setupapi.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

#define SERVICE_NAME L"velo_served"
#define ROOT_DEVICE L"ROOT\\VELO_SERVED\\0000"
#define READY_TIMEOUT_MS 30000
#define STOP_TIMEOUT_MS 30000

#define IOCTL_VELO_SERVED_COUNTS CTL_CODE(0x8000, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS)

/* GUID_DEVCLASS_SYSTEM */
static const GUID system_class = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

static int fail(const char* step, DWORD error) {
    fprintf(stderr, "served_ctl: %s failed (error %lu)\n", step, (unsigned long)error);
    return 1;
}

/* Waits for the driver's ready event; its failure event ends the wait early. Both are created
 * here first when the driver has not made them yet, so no signal is missed. */
static int wait_ready(void) {
    HANDLE events[2];
    DWORD result;

    events[0] = CreateEventW(NULL, TRUE, FALSE, L"Global\\VeloServedReady");
    events[1] = CreateEventW(NULL, TRUE, FALSE, L"Global\\VeloServedFailed");
    if (!events[0] || !events[1])
        return fail("opening the ready events", GetLastError());
    result = WaitForMultipleObjects(2, events, FALSE, READY_TIMEOUT_MS);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
    if (result == WAIT_OBJECT_0)
        return 0;
    if (result == WAIT_OBJECT_0 + 1) {
        fprintf(stderr,
                "served_ctl: the driver failed to present the devices "
                "(WINEDEBUG=warn+debugstr shows its velo_served: lines)\n");
        return 1;
    }
    if (result == WAIT_TIMEOUT) {
        fprintf(stderr, "served_ctl: the driver did not signal ready within %d s\n",
                READY_TIMEOUT_MS / 1000);
        return 1;
    }
    return fail("waiting for the ready event", GetLastError());
}

static int create_root_device(void) {
    static const WCHAR hardware_id[] = L"ROOT\\VELO_SERVED\0";
    static const WCHAR service[] = SERVICE_NAME;
    SP_DEVINFO_DATA device;
    HDEVINFO set;
    int rc = 0;

    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);

    set = SetupDiCreateDeviceInfoList(&system_class, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return fail("creating a device information set", GetLastError());
    if (!SetupDiCreateDeviceInfoW(set, ROOT_DEVICE, &system_class, L"VELO served machine", NULL, 0,
                                  &device))
        rc = fail(
            "creating the root device "
            "ROOT\\VELO_SERVED\\0000",
            GetLastError());
    else if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                (const BYTE*)hardware_id, sizeof(hardware_id)))
        rc = fail("setting the root device's hardware id", GetLastError());
    else if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_SERVICE, (const BYTE*)service,
                                                sizeof(service)))
        rc = fail("setting the root device's service", GetLastError());
    else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device))
        rc = fail("registering the root device", GetLastError());
    SetupDiDestroyDeviceInfoList(set);
    return rc;
}

static int install(void) {
    SC_HANDLE manager, service;
    int rc;

    /* The events exist before the driver loads, so its signal cannot be missed. */
    HANDLE ready = CreateEventW(NULL, TRUE, FALSE, L"Global\\VeloServedReady");
    HANDLE failed = CreateEventW(NULL, TRUE, FALSE, L"Global\\VeloServedFailed");
    if (!ready || !failed)
        return fail("creating the ready events", GetLastError());

    manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return fail("opening the service manager", GetLastError());
    /* System start: the driver comes back by itself in every later wine session. */
    service = CreateServiceW(manager, SERVICE_NAME, SERVICE_NAME, SERVICE_ALL_ACCESS,
                             SERVICE_KERNEL_DRIVER, SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL,
                             L"%SystemRoot%\\system32\\drivers\\velo_served.sys", NULL, NULL, NULL,
                             NULL, NULL);
    if (!service) {
        rc = fail("creating the service velo_served", GetLastError());
        CloseServiceHandle(manager);
        return rc;
    }

    rc = create_root_device();
    if (!rc && !StartServiceW(service, 0, NULL))
        rc = fail("starting the service velo_served", GetLastError());
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    if (!rc)
        rc = wait_ready();
    CloseHandle(ready);
    CloseHandle(failed);
    return rc;
}

static int remove_root_device(void) {
    SP_DEVINFO_DATA device;
    HDEVINFO set;
    int rc = 0;

    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);

    set = SetupDiCreateDeviceInfoList(NULL, NULL);
    if (set == INVALID_HANDLE_VALUE)
        return fail("creating a device information set", GetLastError());
    if (!SetupDiOpenDeviceInfoW(set, ROOT_DEVICE, NULL, 0, &device)) {
        if (GetLastError() != ERROR_NO_SUCH_DEVINST)
            rc = fail("opening the root device", GetLastError());
    } else if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
        rc = fail("removing the root device", GetLastError());
    }
    SetupDiDestroyDeviceInfoList(set);
    return rc;
}

static int stop_service(void) {
    SC_HANDLE manager, service;
    SERVICE_STATUS status;
    DWORD waited = 0;
    int rc = 0;

    manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return fail("opening the service manager", GetLastError());
    service = OpenServiceW(manager, SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            rc = fail("opening the service velo_served", GetLastError());
        CloseServiceHandle(manager);
        return rc;
    }
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
        rc = fail("stopping the service velo_served", GetLastError());
    } else {
        /* The service manager reports the stop when the driver has unloaded. */
        while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
               waited < STOP_TIMEOUT_MS) {
            Sleep(100);
            waited += 100;
        }
        if (status.dwCurrentState != SERVICE_STOPPED)
            rc = fail("waiting for the service velo_served to stop", ERROR_TIMEOUT);
        else if (!DeleteService(service))
            rc = fail("deleting the service velo_served", GetLastError());
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return rc;
}

/* The driver's counts: replies served, departures, replies in the served file, then the first
 * departure's target, control code, input length, output length, input hash (low, high) and
 * the index of the reply it was held against (~0: none was left for its target). */
#define COUNTS 10

static int query_counts(ULONG counts[COUNTS]) {
    DWORD returned = 0;
    HANDLE control = CreateFileW(L"\\\\.\\VeloServedControl", GENERIC_READ | GENERIC_WRITE, 0, NULL,
                                 OPEN_EXISTING, 0, NULL);
    if (control == INVALID_HANDLE_VALUE)
        return fail("opening \\\\.\\VeloServedControl", GetLastError());
    if (!DeviceIoControl(control, IOCTL_VELO_SERVED_COUNTS, NULL, 0, counts, COUNTS * sizeof(ULONG),
                         &returned, NULL) ||
        returned != COUNTS * sizeof(ULONG)) {
        int rc = fail("asking the driver for its counts", GetLastError());
        CloseHandle(control);
        return rc;
    }
    CloseHandle(control);
    return 0;
}

/* On stderr: the first request that matched no reply. */
static void print_first_departure(const ULONG counts[COUNTS]) {
    if (!counts[1])
        return;
    fprintf(stderr,
            "served_ctl: first departure: target %lu code 0x%08lX input %lu output %lu "
            "hash 0x%08lX%08lX",
            (unsigned long)counts[3], (unsigned long)counts[4], (unsigned long)counts[5],
            (unsigned long)counts[6], (unsigned long)counts[8], (unsigned long)counts[7]);
    if (counts[9] == 0xFFFFFFFFu)
        fprintf(stderr, "; no reply was left for that target\n");
    else
        fprintf(stderr, "; reply %lu was next for that target\n", (unsigned long)counts[9]);
}

static int departures(void) {
    ULONG counts[COUNTS] = {0};
    /* The control device exists once the driver is up; a new session starts it afresh. */
    if (wait_ready() || query_counts(counts))
        return 1;
    printf("served %lu departures %lu\n", (unsigned long)counts[0], (unsigned long)counts[1]);
    print_first_departure(counts);
    return counts[1] == 0 ? 0 : 1;
}

/* The rest of this program's own command line after the word "run", quoting untouched. */
static wchar_t* command_after_run(void) {
    wchar_t* p = GetCommandLineW();
    /* Program name: up to the closing quote when quoted, else up to white space. */
    if (*p == L'"') {
        for (++p; *p && *p != L'"'; ++p) {
        }
        if (*p)
            ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    if (wcsncmp(p, L"run", 3) || (p[3] != L' ' && p[3] != L'\t'))
        return NULL;
    p += 3;
    while (*p == L' ' || *p == L'\t')
        ++p;
    return *p ? p : NULL;
}

/* Runs a command in this wine session once the devices are present, so that no new session (in
 * which the driver would start over) begins between the wait, the command and the counts. */
static int run(void) {
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ULONG counts[COUNTS] = {0};
    DWORD code = 1;
    wchar_t* command = command_after_run();
    int i;

    if (!command) {
        fprintf(stderr, "usage: served_ctl run PROGRAM [ARGUMENTS...]\n");
        return 1;
    }
    if (wait_ready())
        return 1;

    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (i = 0; i < 3; ++i) {
        HANDLE h = i == 0 ? startup.hStdInput : i == 1 ? startup.hStdOutput : startup.hStdError;
        if (h && h != INVALID_HANDLE_VALUE)
            SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    fflush(stdout);
    fflush(stderr);
    if (!CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
        return fail("starting the command", GetLastError());
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    if (query_counts(counts))
        return 1;
    fprintf(stderr, "served %lu departures %lu\n", (unsigned long)counts[0],
            (unsigned long)counts[1]);
    print_first_departure(counts);
    return (int)code;
}

int wmain(int argc, wchar_t** argv) {
    /* Lines end in LF alone: the scripts that read them run on the host. */
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc == 2 && !wcscmp(argv[1], L"install"))
        return install();
    if (argc == 2 && !wcscmp(argv[1], L"wait"))
        return wait_ready();
    if (argc == 2 && !wcscmp(argv[1], L"remove")) {
        int rc = remove_root_device();
        return stop_service() || rc;
    }
    if (argc == 2 && !wcscmp(argv[1], L"departures"))
        return departures();
    if (argc >= 3 && !wcscmp(argv[1], L"run"))
        return run();
    fprintf(stderr,
            "usage: served_ctl install|wait|remove|departures|run PROGRAM [ARGUMENTS...]\n");
    return 1;
}
