/*
 * velo_served.sys: a test-only kernel driver that presents a recorded machine to velo.exe
 * under wine.
 *
 * DriverEntry reads C:\velo-served.bin (the served file: the machine's PnP devices, its plain
 * port devices and every control request a host run sent with the answer it got). The driver is
 * the function driver of one root device; it reports each served device as a child PDO, gives it
 * the recorded ids and properties, enables its device interfaces and links \DosDevices names to
 * it. A control request to a device gets the next recorded answer of that device when it is the
 * recorded request (code, lengths and an FNV-1a 64 hash of the input); any other request fails
 * with STATUS_INVALID_DEVICE_REQUEST and is counted as a departure. The driver decides nothing.
 *
 * When every device is started, every interface enabled and every link made it signals
 * \BaseNamedObjects\VeloServedReady; if a step fails it signals \BaseNamedObjects\VeloServedFailed.
 * \\.\VeloServedControl answers IOCTL_VELO_SERVED_COUNTS with the served and departure counts
 * and the first departure.
 */

#include <ntifs.h>

#ifndef LOCALE_NEUTRAL
#define LOCALE_NEUTRAL 0
#endif

#define VS_TAG "velo_served: "
#define VS_MAX_FILE (256u * 1024u * 1024u)
/* wine keeps device instance ids in fixed buffers of this many characters. */
#define VS_MAX_DEVICE_ID_LEN 200
#define VS_MAX_LINK_NUMBER 9999

#define IOCTL_VELO_SERVED_COUNTS ((ULONG)CTL_CODE(0x8000, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS))

#define VS_INTERFACE_STORAGEPORT 0x1u
#define VS_INTERFACE_DISK 0x2u

static const GUID vs_guid_storageport = {
    0x2accfe60, 0xc130, 0x11d2, {0xb0, 0x82, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};
static const GUID vs_guid_disk = {
    0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}};

static const DEVPROPKEY vs_key_parent = {
    {0x4340a6c5, 0x93fa, 0x4706, {0x97, 0x2c, 0x7b, 0x64, 0x80, 0x08, 0xa5, 0xa7}}, 8};
static const DEVPROPKEY vs_key_instance_id = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
static const DEVPROPKEY vs_key_location_info = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 15};
static const DEVPROPKEY vs_key_driver_desc = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 4};

/* A NUL-terminated copy of a string of the served file. */
struct vs_string {
    WCHAR* text;
    ULONG length; /* code units, without the terminator */
};

struct vs_device {
    struct vs_string device_id;
    struct vs_string instance_suffix;
    struct vs_string parent;
    struct vs_string driver_desc;
    struct vs_string location_info;
    ULONG hardware_id_count;
    struct vs_string* hardware_ids;
    ULONG interfaces;
    LONG physical_drive;

    DEVICE_OBJECT* pdo;
    UNICODE_STRING interface_links[2];
    BOOLEAN started;
    BOOLEAN drive_linked;
};

struct vs_port {
    ULONG number;
    DEVICE_OBJECT* device;
    BOOLEAN linked;
};

struct vs_reply {
    ULONG target;
    ULONG control_code;
    ULONG input_length;
    ULONG output_length;
    ULONG64 input_hash;
    NTSTATUS status;
    ULONG information;
    ULONG output_size;
    const UCHAR* output; /* into vs_file */
    BOOLEAN served;
};

enum vs_kind { VS_CONTROL, VS_BUS, VS_CHILD, VS_PORT };

struct vs_extension {
    enum vs_kind kind;
    ULONG target; /* VS_CHILD: device index; VS_PORT: deviceCount + port index */
};

static UCHAR* vs_file;
static ULONG vs_device_count, vs_port_count, vs_reply_count;
static struct vs_device* vs_devices;
static struct vs_port* vs_ports;
static struct vs_reply* vs_replies;
static ULONG* vs_next_reply; /* per target: index of the first reply not yet served */

static DEVICE_OBJECT *vs_control, *vs_bus, *vs_bus_lower;
static KMUTEX vs_lock;
static ULONG vs_served, vs_departures, vs_started;
static BOOLEAN vs_ready_signalled;
static HANDLE vs_ready_event, vs_failed_event;

/* ---- small helpers (the driver links no C library) ---- */

static void vs_zero(void* p, SIZE_T n) {
    UCHAR* b = p;
    while (n--)
        *b++ = 0;
}

static void vs_copy(void* dst, const void* src, SIZE_T n) {
    UCHAR* d = dst;
    const UCHAR* s = src;
    while (n--)
        *d++ = *s++;
}

static void* vs_alloc(SIZE_T size) {
    void* p = ExAllocatePool(NonPagedPool, size ? size : 1);
    if (p)
        vs_zero(p, size ? size : 1);
    return p;
}

static void vs_free(void* p) {
    if (p)
        ExFreePool(p);
}

/* Appends text and a decimal number to a WCHAR buffer of capacity cap (with terminator). */
static ULONG vs_append(WCHAR* buf, ULONG at, ULONG cap, const WCHAR* text) {
    while (*text && at + 1 < cap)
        buf[at++] = *text++;
    buf[at] = 0;
    return at;
}

static ULONG vs_append_number(WCHAR* buf, ULONG at, ULONG cap, ULONG value) {
    WCHAR digits[11];
    ULONG n = 0;
    do {
        digits[n++] = (WCHAR)(L'0' + value % 10);
        value /= 10;
    } while (value && n < 10);
    while (n && at + 1 < cap)
        buf[at++] = digits[--n];
    buf[at] = 0;
    return at;
}

static void vs_set_unicode(UNICODE_STRING* s, WCHAR* buf, ULONG length) {
    s->Buffer = buf;
    s->Length = (USHORT)(length * sizeof(WCHAR));
    s->MaximumLength = (USHORT)((length + 1) * sizeof(WCHAR));
}

static ULONG64 vs_fnv1a(const UCHAR* data, ULONG length) {
    ULONG64 hash = 0xcbf29ce484222325ull;
    ULONG i;
    for (i = 0; i < length; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

static void vs_lock_acquire(void) {
    KeWaitForSingleObject(&vs_lock, Executive, KernelMode, FALSE, NULL);
}

static void vs_lock_release(void) {
    KeReleaseMutex(&vs_lock, FALSE);
}

static void vs_signal_failed(const char* step, NTSTATUS status) {
    DbgPrint(VS_TAG "%s failed, status %#lx\n", step, (unsigned long)status);
    if (vs_failed_event)
        ZwSetEvent(vs_failed_event, NULL);
}

/* ---- the served file ---- */

struct vs_reader {
    const UCHAR* p;
    SIZE_T left;
    const char* error; /* first problem met; reading stops there */
};

static BOOLEAN vs_fail(struct vs_reader* r, const char* error) {
    if (!r->error)
        r->error = error;
    return FALSE;
}

static BOOLEAN vs_bytes(struct vs_reader* r, SIZE_T n, const UCHAR** out) {
    if (r->error)
        return FALSE;
    if (n > r->left)
        return vs_fail(r, "file ends inside a record");
    *out = r->p;
    r->p += n;
    r->left -= n;
    return TRUE;
}

static ULONG vs_u32(struct vs_reader* r) {
    const UCHAR* b;
    if (!vs_bytes(r, 4, &b))
        return 0;
    return (ULONG)b[0] | ((ULONG)b[1] << 8) | ((ULONG)b[2] << 16) | ((ULONG)b[3] << 24);
}

static ULONG64 vs_u64(struct vs_reader* r) {
    ULONG64 low = vs_u32(r);
    ULONG64 high = vs_u32(r);
    return low | (high << 32);
}

/* A count of records each at least min_size bytes long: never more than the file can hold. */
static ULONG vs_count(struct vs_reader* r, SIZE_T min_size, const char* what) {
    ULONG count = vs_u32(r);
    if (!r->error && count > r->left / min_size)
        vs_fail(r, what);
    return r->error ? 0 : count;
}

/* A string: u32 count of UTF-16 units, then the units. No unit may be NUL. */
static BOOLEAN vs_string(struct vs_reader* r, struct vs_string* s) {
    ULONG units = vs_u32(r), i;
    const UCHAR* b;
    if (r->error)
        return FALSE;
    if (units > r->left / 2)
        return vs_fail(r, "string longer than the file");
    if (!vs_bytes(r, (SIZE_T)units * 2, &b))
        return FALSE;
    if (!(s->text = vs_alloc(((SIZE_T)units + 1) * sizeof(WCHAR))))
        return vs_fail(r, "out of memory");
    for (i = 0; i < units; ++i) {
        s->text[i] = (WCHAR)(b[2 * i] | (b[2 * i + 1] << 8));
        if (!s->text[i])
            return vs_fail(r, "string holds a NUL");
    }
    s->length = units;
    return TRUE;
}

static BOOLEAN vs_has(const struct vs_string* s, WCHAR c) {
    ULONG i;
    for (i = 0; i < s->length; ++i)
        if (s->text[i] == c)
            return TRUE;
    return FALSE;
}

static BOOLEAN vs_parse(const UCHAR* data, SIZE_T size, struct vs_reader* r) {
    static const UCHAR magic[8] = {'V', 'E', 'L', 'O', 'S', 'R', 'V', '1'};
    const UCHAR* m;
    ULONG i, j, targets;

    r->p = data;
    r->left = size;
    r->error = NULL;

    if (!vs_bytes(r, 8, &m))
        return FALSE;
    for (i = 0; i < 8; ++i)
        if (m[i] != magic[i])
            return vs_fail(r, "bad magic");

    /* A device is at least five empty strings and three u32 values. */
    vs_device_count = vs_count(r, 32, "device count larger than the file");
    if (r->error || !(vs_devices = vs_alloc(sizeof(*vs_devices) * (vs_device_count + 1))))
        return vs_fail(r, "out of memory");
    for (i = 0; i < vs_device_count; ++i) {
        struct vs_device* d = &vs_devices[i];
        vs_string(r, &d->device_id);
        vs_string(r, &d->instance_suffix);
        vs_string(r, &d->parent);
        vs_string(r, &d->driver_desc);
        vs_string(r, &d->location_info);
        d->hardware_id_count = vs_count(r, 4, "hardware id count larger than the file");
        if (r->error)
            return FALSE;
        if (!(d->hardware_ids = vs_alloc(sizeof(*d->hardware_ids) * (d->hardware_id_count + 1))))
            return vs_fail(r, "out of memory");
        for (j = 0; j < d->hardware_id_count; ++j) {
            if (vs_string(r, &d->hardware_ids[j]) && !d->hardware_ids[j].length)
                return vs_fail(r, "empty hardware id");
        }
        d->interfaces = vs_u32(r);
        d->physical_drive = (LONG)vs_u32(r);
        if (r->error)
            return FALSE;
        if (!d->device_id.length || !d->instance_suffix.length)
            return vs_fail(r, "empty device id or instance suffix");
        if (vs_has(&d->instance_suffix, L'\\'))
            return vs_fail(r, "instance suffix holds a backslash");
        if (d->device_id.length + 1 + d->instance_suffix.length >= VS_MAX_DEVICE_ID_LEN)
            return vs_fail(r, "instance id too long");
        if (d->interfaces & ~(VS_INTERFACE_STORAGEPORT | VS_INTERFACE_DISK))
            return vs_fail(r, "unknown interface bits");
        if (d->physical_drive < -1 || d->physical_drive > VS_MAX_LINK_NUMBER)
            return vs_fail(r, "physical drive number out of range");
        for (j = 0; j < i; ++j) {
            if (d->physical_drive >= 0 && vs_devices[j].physical_drive == d->physical_drive)
                return vs_fail(r, "physical drive number given twice");
        }
    }

    vs_port_count = vs_count(r, 4, "port count larger than the file");
    if (r->error || !(vs_ports = vs_alloc(sizeof(*vs_ports) * (vs_port_count + 1))))
        return vs_fail(r, "out of memory");
    for (i = 0; i < vs_port_count; ++i) {
        vs_ports[i].number = vs_u32(r);
        if (r->error)
            return FALSE;
        if (vs_ports[i].number > VS_MAX_LINK_NUMBER)
            return vs_fail(r, "port number out of range");
        for (j = 0; j < i; ++j)
            if (vs_ports[j].number == vs_ports[i].number)
                return vs_fail(r, "port number given twice");
    }

    targets = vs_device_count + vs_port_count;
    /* A reply is at least 36 bytes: seven u32 values and the u64 hash. */
    vs_reply_count = vs_count(r, 36, "reply count larger than the file");
    if (r->error || !(vs_replies = vs_alloc(sizeof(*vs_replies) * (vs_reply_count + 1))))
        return vs_fail(r, "out of memory");
    for (i = 0; i < vs_reply_count; ++i) {
        struct vs_reply* rep = &vs_replies[i];
        rep->target = vs_u32(r);
        rep->control_code = vs_u32(r);
        rep->input_length = vs_u32(r);
        rep->output_length = vs_u32(r);
        rep->input_hash = vs_u64(r);
        rep->status = (NTSTATUS)vs_u32(r);
        rep->information = vs_u32(r);
        rep->output_size = vs_u32(r);
        if (r->error)
            return FALSE;
        if (rep->target >= targets)
            return vs_fail(r, "reply target out of range");
        if (!vs_bytes(r, rep->output_size, &rep->output))
            return FALSE;
    }
    if (r->left)
        return vs_fail(r, "bytes after the last reply");

    if (!(vs_next_reply = vs_alloc(sizeof(*vs_next_reply) * (targets + 1))))
        return vs_fail(r, "out of memory");
    return TRUE;
}

static NTSTATUS vs_read_file(void) {
    static WCHAR path[] = L"\\??\\C:\\velo-served.bin";
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attr;
    IO_STATUS_BLOCK io;
    FILE_STANDARD_INFORMATION info;
    HANDLE file;
    NTSTATUS status;
    ULONG size, done = 0;
    struct vs_reader reader;

    vs_set_unicode(&name, path, (ULONG)(sizeof(path) / sizeof(WCHAR) - 1));
    InitializeObjectAttributes(&attr, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwCreateFile(&file, GENERIC_READ | SYNCHRONIZE, &attr, &io, NULL,
                          FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
                          FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
    if (!NT_SUCCESS(status)) {
        DbgPrint(VS_TAG "cannot open C:\\velo-served.bin, status %#lx\n", (unsigned long)status);
        return status;
    }
    status = ZwQueryInformationFile(file, &io, &info, sizeof(info), FileStandardInformation);
    if (!NT_SUCCESS(status) || info.EndOfFile.QuadPart < 0 ||
        info.EndOfFile.QuadPart > VS_MAX_FILE) {
        DbgPrint(VS_TAG "C:\\velo-served.bin: size unknown or above %u bytes\n", VS_MAX_FILE);
        ZwClose(file);
        return NT_SUCCESS(status) ? STATUS_FILE_TOO_LARGE : status;
    }
    size = (ULONG)info.EndOfFile.QuadPart;
    if (!(vs_file = vs_alloc(size))) {
        ZwClose(file);
        return STATUS_NO_MEMORY;
    }
    while (done < size) {
        LARGE_INTEGER offset;
        offset.QuadPart = done;
        status =
            ZwReadFile(file, NULL, NULL, NULL, &io, vs_file + done, size - done, &offset, NULL);
        if (!NT_SUCCESS(status) || io.Information == 0 || io.Information > size - done) {
            DbgPrint(VS_TAG "cannot read C:\\velo-served.bin, status %#lx\n",
                     (unsigned long)status);
            ZwClose(file);
            return NT_SUCCESS(status) ? STATUS_END_OF_FILE : status;
        }
        done += (ULONG)io.Information;
    }
    ZwClose(file);

    if (!vs_parse(vs_file, size, &reader)) {
        DbgPrint(VS_TAG "refusing C:\\velo-served.bin at byte %lu: %s\n",
                 (unsigned long)(size - reader.left), reader.error);
        return STATUS_FILE_CORRUPT_ERROR;
    }
    DbgPrint(VS_TAG "served file: %lu devices, %lu ports, %lu replies\n",
             (unsigned long)vs_device_count, (unsigned long)vs_port_count,
             (unsigned long)vs_reply_count);
    return STATUS_SUCCESS;
}

static void vs_free_served(void) {
    ULONG i, j;
    if (vs_devices) {
        for (i = 0; i < vs_device_count; ++i) {
            struct vs_device* d = &vs_devices[i];
            vs_free(d->device_id.text);
            vs_free(d->instance_suffix.text);
            vs_free(d->parent.text);
            vs_free(d->driver_desc.text);
            vs_free(d->location_info.text);
            if (d->hardware_ids)
                for (j = 0; j < d->hardware_id_count; ++j)
                    vs_free(d->hardware_ids[j].text);
            vs_free(d->hardware_ids);
        }
    }
    vs_free(vs_devices);
    vs_free(vs_ports);
    vs_free(vs_replies);
    vs_free(vs_next_reply);
    vs_free(vs_file);
    vs_devices = NULL;
    vs_ports = NULL;
    vs_replies = NULL;
    vs_next_reply = NULL;
    vs_file = NULL;
}

/* ---- names and links ---- */

static NTSTATUS vs_create_named(const WCHAR* prefix, ULONG number, DEVICE_TYPE type,
                                enum vs_kind kind, ULONG target, DRIVER_OBJECT* driver,
                                DEVICE_OBJECT** out) {
    WCHAR buf[64];
    UNICODE_STRING name;
    struct vs_extension* ext;
    NTSTATUS status;
    ULONG n = vs_append(buf, 0, 64, prefix);
    n = vs_append_number(buf, n, 64, number);
    vs_set_unicode(&name, buf, n);
    status = IoCreateDevice(driver, sizeof(struct vs_extension), &name, type, 0, FALSE, out);
    if (!NT_SUCCESS(status))
        return status;
    ext = (*out)->DeviceExtension;
    ext->kind = kind;
    ext->target = target;
    (*out)->Flags |= DO_BUFFERED_IO;
    (*out)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

/* \DosDevices\<prefix><number><suffix> -> \Device\<device prefix><device number>. Any link of
 * that name (wine's own PhysicalDrive0) is deleted first. */
static NTSTATUS vs_link(const WCHAR* prefix, ULONG number, const WCHAR* suffix,
                        const WCHAR* device_prefix, ULONG device_number) {
    WCHAR link_buf[64], target_buf[64];
    UNICODE_STRING link, target;
    ULONG n = vs_append(link_buf, 0, 64, L"\\DosDevices\\");
    n = vs_append(link_buf, n, 64, prefix);
    n = vs_append_number(link_buf, n, 64, number);
    n = vs_append(link_buf, n, 64, suffix);
    vs_set_unicode(&link, link_buf, n);
    n = vs_append(target_buf, 0, 64, device_prefix);
    n = vs_append_number(target_buf, n, 64, device_number);
    vs_set_unicode(&target, target_buf, n);
    IoDeleteSymbolicLink(&link);
    return IoCreateSymbolicLink(&link, &target);
}

static void vs_unlink(const WCHAR* prefix, ULONG number, const WCHAR* suffix) {
    WCHAR link_buf[64];
    UNICODE_STRING link;
    ULONG n = vs_append(link_buf, 0, 64, L"\\DosDevices\\");
    n = vs_append(link_buf, n, 64, prefix);
    n = vs_append_number(link_buf, n, 64, number);
    n = vs_append(link_buf, n, 64, suffix);
    vs_set_unicode(&link, link_buf, n);
    IoDeleteSymbolicLink(&link);
}

static void vs_check_ready(void) {
    ULONG i;
    if (vs_ready_signalled || !vs_bus || vs_started != vs_device_count)
        return;
    for (i = 0; i < vs_port_count; ++i)
        if (!vs_ports[i].linked)
            return;
    vs_ready_signalled = TRUE;
    DbgPrint(VS_TAG "ready: %lu devices started, %lu ports linked\n",
             (unsigned long)vs_device_count, (unsigned long)vs_port_count);
    ZwSetEvent(vs_ready_event, NULL);
}

/* ---- control requests ---- */

/* The first departure of this session, for served_ctl to show. */
struct vs_departure {
    ULONG target;
    ULONG control_code;
    ULONG input_length;
    ULONG output_length;
    ULONG64 input_hash;
    ULONG expected_reply; /* index of the reply the request was held against; ~0: none left */
};
static struct vs_departure vs_first_departure;

/* Called with vs_lock held. */
static void vs_depart(const struct vs_departure* d) {
    if (!vs_departures++)
        vs_first_departure = *d;
}

static NTSTATUS vs_answer(ULONG target, IRP* irp, IO_STACK_LOCATION* stack) {
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    struct vs_departure got;
    struct vs_reply* rep = NULL;
    NTSTATUS status;
    ULONG i;

    got.target = target;
    got.control_code = stack->Parameters.DeviceIoControl.IoControlCode;
    got.input_length = stack->Parameters.DeviceIoControl.InputBufferLength;
    got.output_length = stack->Parameters.DeviceIoControl.OutputBufferLength;
    got.input_hash = 0;
    got.expected_reply = ~0u;
    irp->IoStatus.Information = 0;

    if ((got.input_length || got.output_length) && !buffer) {
        DbgPrint(VS_TAG "departure: target %lu code %#lx without a system buffer\n",
                 (unsigned long)target, (unsigned long)got.control_code);
        vs_lock_acquire();
        vs_depart(&got);
        vs_lock_release();
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    got.input_hash = vs_fnv1a(buffer, got.input_length);

    vs_lock_acquire();
    for (i = vs_next_reply[target]; i < vs_reply_count; ++i) {
        if (vs_replies[i].target == target && !vs_replies[i].served) {
            rep = &vs_replies[i];
            break;
        }
    }
    vs_next_reply[target] = i;
    if (!rep || rep->control_code != got.control_code || rep->input_length != got.input_length ||
        rep->output_length != got.output_length || rep->input_hash != got.input_hash) {
        if (rep)
            got.expected_reply = i;
        vs_depart(&got);
        vs_lock_release();
        if (rep)
            DbgPrint(VS_TAG
                     "departure: target %lu got code %#lx in %lu out %lu hash %#I64x; "
                     "reply %lu expects code %#lx in %lu out %lu hash %#I64x\n",
                     (unsigned long)target, (unsigned long)got.control_code,
                     (unsigned long)got.input_length, (unsigned long)got.output_length,
                     got.input_hash, (unsigned long)i, (unsigned long)rep->control_code,
                     (unsigned long)rep->input_length, (unsigned long)rep->output_length,
                     rep->input_hash);
        else
            DbgPrint(VS_TAG
                     "departure: target %lu got code %#lx in %lu out %lu hash %#I64x; "
                     "no reply left for it\n",
                     (unsigned long)target, (unsigned long)got.control_code,
                     (unsigned long)got.input_length, (unsigned long)got.output_length,
                     got.input_hash);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    rep->served = TRUE;
    ++vs_served;
    vs_next_reply[target] = i + 1;
    vs_lock_release();

    /* Output never exceeds the caller's buffer, whatever the file says. */
    status = rep->status;
    if (NT_SUCCESS(status)) {
        ULONG copy = rep->output_size < got.output_length ? rep->output_size : got.output_length;
        if (copy)
            vs_copy(buffer, rep->output, copy);
        irp->IoStatus.Information =
            rep->information < got.output_length ? rep->information : got.output_length;
    }
    return status;
}

/* The counts reply: served, departures, replies in the file, then the first departure's
 * target, code, input length, output length, hash (low, high) and expected reply. */
#define VS_COUNTS 10

static NTSTATUS vs_control_request(IRP* irp, IO_STACK_LOCATION* stack) {
    ULONG* out = irp->AssociatedIrp.SystemBuffer;
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_VELO_SERVED_COUNTS)
        return STATUS_INVALID_DEVICE_REQUEST;
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < VS_COUNTS * sizeof(ULONG) || !out)
        return STATUS_BUFFER_TOO_SMALL;
    vs_lock_acquire();
    out[0] = vs_served;
    out[1] = vs_departures;
    out[2] = vs_reply_count;
    out[3] = vs_first_departure.target;
    out[4] = vs_first_departure.control_code;
    out[5] = vs_first_departure.input_length;
    out[6] = vs_first_departure.output_length;
    out[7] = (ULONG)vs_first_departure.input_hash;
    out[8] = (ULONG)(vs_first_departure.input_hash >> 32);
    out[9] = vs_first_departure.expected_reply;
    vs_lock_release();
    irp->IoStatus.Information = VS_COUNTS * sizeof(ULONG);
    return STATUS_SUCCESS;
}

static NTSTATUS WINAPI vs_dispatch_ioctl(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    struct vs_extension* ext = device->DeviceExtension;
    NTSTATUS status;

    if (ext->kind == VS_CONTROL)
        status = vs_control_request(irp, stack);
    else if (ext->kind == VS_CHILD || ext->kind == VS_PORT)
        status = vs_answer(ext->target, irp, stack);
    else
        status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI vs_dispatch_success(DEVICE_OBJECT* device, IRP* irp) {
    (void)device;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

static NTSTATUS WINAPI vs_dispatch_invalid(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    struct vs_extension* ext = device->DeviceExtension;
    if (ext->kind == VS_BUS) {
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(vs_bus_lower, irp);
    }
    if (ext->kind != VS_CONTROL)
        DbgPrint(VS_TAG "unanswered request major %u to target %lu\n",
                 (unsigned)stack->MajorFunction, (unsigned long)ext->target);
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

/* ---- the children ---- */

static NTSTATUS vs_query_id(struct vs_device* d, BUS_QUERY_ID_TYPE type, IRP* irp) {
    WCHAR* id;
    SIZE_T units = 0;
    ULONG i;

    switch (type) {
        case BusQueryDeviceID:
            units = d->device_id.length + 1;
            break;
        case BusQueryInstanceID:
            units = d->instance_suffix.length + 1;
            break;
        case BusQueryHardwareIDs:
            for (i = 0; i < d->hardware_id_count; ++i)
                units += d->hardware_ids[i].length + 1;
            units += 1;
            if (units < 2)
                units = 2;
            break;
        case BusQueryCompatibleIDs:
            units = 2;
            break;
        default:
            return irp->IoStatus.Status;
    }
    if (!(id = ExAllocatePool(PagedPool, units * sizeof(WCHAR))))
        return STATUS_NO_MEMORY;
    vs_zero(id, units * sizeof(WCHAR));
    if (type == BusQueryDeviceID) {
        vs_copy(id, d->device_id.text, d->device_id.length * sizeof(WCHAR));
    } else if (type == BusQueryInstanceID) {
        vs_copy(id, d->instance_suffix.text, d->instance_suffix.length * sizeof(WCHAR));
    } else if (type == BusQueryHardwareIDs) {
        WCHAR* p = id;
        for (i = 0; i < d->hardware_id_count; ++i) {
            vs_copy(p, d->hardware_ids[i].text, d->hardware_ids[i].length * sizeof(WCHAR));
            p += d->hardware_ids[i].length + 1;
        }
    }
    irp->IoStatus.Information = (ULONG_PTR)id;
    return STATUS_SUCCESS;
}

static NTSTATUS vs_set_property(DEVICE_OBJECT* pdo, const DEVPROPKEY* key,
                                const struct vs_string* value, const char* what) {
    NTSTATUS status;
    if (!value->length)
        return STATUS_SUCCESS;
    status = IoSetDevicePropertyData(pdo, key, LOCALE_NEUTRAL, 0, DEVPROP_TYPE_STRING,
                                     (value->length + 1) * sizeof(WCHAR), value->text);
    if (!NT_SUCCESS(status))
        DbgPrint(VS_TAG "setting %s of %ws failed, status %#lx\n", what, value->text,
                 (unsigned long)status);
    return status;
}

static NTSTATUS vs_start_child(ULONG index) {
    struct vs_device* d = &vs_devices[index];
    struct vs_string instance_id;
    WCHAR buf[VS_MAX_DEVICE_ID_LEN];
    NTSTATUS status;
    ULONG n;

    if (d->started)
        return STATUS_SUCCESS;

    n = vs_append(buf, 0, VS_MAX_DEVICE_ID_LEN, d->device_id.text);
    n = vs_append(buf, n, VS_MAX_DEVICE_ID_LEN, L"\\");
    n = vs_append(buf, n, VS_MAX_DEVICE_ID_LEN, d->instance_suffix.text);
    instance_id.text = buf;
    instance_id.length = n;

    if (!NT_SUCCESS(status =
                        vs_set_property(d->pdo, &vs_key_instance_id, &instance_id, "InstanceId")) ||
        !NT_SUCCESS(status = vs_set_property(d->pdo, &vs_key_parent, &d->parent, "Parent")) ||
        !NT_SUCCESS(status = vs_set_property(d->pdo, &vs_key_location_info, &d->location_info,
                                             "LocationInfo")) ||
        !NT_SUCCESS(
            status = vs_set_property(d->pdo, &vs_key_driver_desc, &d->driver_desc, "DriverDesc"))) {
        vs_signal_failed("setting a device property", status);
        return status;
    }

    if (d->interfaces & VS_INTERFACE_STORAGEPORT) {
        status =
            IoRegisterDeviceInterface(d->pdo, &vs_guid_storageport, NULL, &d->interface_links[0]);
        if (NT_SUCCESS(status))
            status = IoSetDeviceInterfaceState(&d->interface_links[0], TRUE);
        if (!NT_SUCCESS(status)) {
            vs_signal_failed("enabling a storage port interface", status);
            return status;
        }
    }
    if (d->interfaces & VS_INTERFACE_DISK) {
        status = IoRegisterDeviceInterface(d->pdo, &vs_guid_disk, NULL, &d->interface_links[1]);
        if (NT_SUCCESS(status))
            status = IoSetDeviceInterfaceState(&d->interface_links[1], TRUE);
        if (!NT_SUCCESS(status)) {
            vs_signal_failed("enabling a disk interface", status);
            return status;
        }
    }
    if (d->physical_drive >= 0) {
        status = vs_link(L"PhysicalDrive", (ULONG)d->physical_drive, L"", L"\\Device\\VeloServed",
                         index);
        if (!NT_SUCCESS(status)) {
            vs_signal_failed("linking a PhysicalDrive name", status);
            return status;
        }
        d->drive_linked = TRUE;
    }

    DbgPrint(VS_TAG "started %ws\n", buf);
    vs_lock_acquire();
    d->started = TRUE;
    ++vs_started;
    vs_check_ready();
    vs_lock_release();
    return STATUS_SUCCESS;
}

static void vs_stop_child(ULONG index) {
    struct vs_device* d = &vs_devices[index];
    ULONG i;
    for (i = 0; i < 2; ++i) {
        if (d->interface_links[i].Buffer) {
            IoSetDeviceInterfaceState(&d->interface_links[i], FALSE);
            RtlFreeUnicodeString(&d->interface_links[i]);
            d->interface_links[i].Buffer = NULL;
        }
    }
    if (d->drive_linked) {
        vs_unlink(L"PhysicalDrive", (ULONG)d->physical_drive, L"");
        d->drive_linked = FALSE;
    }
    vs_lock_acquire();
    if (d->started) {
        d->started = FALSE;
        --vs_started;
    }
    vs_lock_release();
}

static NTSTATUS vs_child_pnp(DEVICE_OBJECT* device, IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    ULONG index = ((struct vs_extension*)device->DeviceExtension)->target;
    struct vs_device* d = &vs_devices[index];
    NTSTATUS status = irp->IoStatus.Status;

    switch (stack->MinorFunction) {
        case IRP_MN_QUERY_ID:
            status = vs_query_id(d, stack->Parameters.QueryId.IdType, irp);
            break;
        case IRP_MN_QUERY_CAPABILITIES: {
            DEVICE_CAPABILITIES* caps = stack->Parameters.DeviceCapabilities.Capabilities;
            /* Started without a function driver of its own. */
            caps->RawDeviceOK = 1;
            caps->SilentInstall = 1;
            status = STATUS_SUCCESS;
            break;
        }
        case IRP_MN_START_DEVICE:
            status = vs_start_child(index);
            break;
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_STOP_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_REMOVE_DEVICE:
            vs_stop_child(index);
            d->pdo = NULL;
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoCompleteRequest(irp, IO_NO_INCREMENT);
            IoDeleteDevice(device);
            return STATUS_SUCCESS;
        default:
            break;
    }
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* ---- the root device's function device ---- */

static NTSTATUS vs_bus_pnp(IRP* irp) {
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    DEVICE_OBJECT* lower = vs_bus_lower;
    NTSTATUS status;
    ULONG i;

    switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            vs_lock_acquire();
            vs_check_ready();
            vs_lock_release();
            IoInvalidateDeviceRelations(lower, BusRelations);
            break;
        case IRP_MN_QUERY_DEVICE_RELATIONS: {
            DEVICE_RELATIONS* relations;
            ULONG count = 0;
            if (stack->Parameters.QueryDeviceRelations.Type != BusRelations)
                break;
            relations = ExAllocatePool(
                PagedPool, sizeof(DEVICE_RELATIONS) + sizeof(DEVICE_OBJECT*) * vs_device_count);
            if (!relations) {
                irp->IoStatus.Status = STATUS_NO_MEMORY;
                break;
            }
            for (i = 0; i < vs_device_count; ++i) {
                if (vs_devices[i].pdo) {
                    relations->Objects[count++] = vs_devices[i].pdo;
                    ObReferenceObject(vs_devices[i].pdo);
                }
            }
            relations->Count = count;
            irp->IoStatus.Information = (ULONG_PTR)relations;
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        }
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_STOP_DEVICE:
            irp->IoStatus.Status = STATUS_SUCCESS;
            break;
        case IRP_MN_REMOVE_DEVICE:
            for (i = 0; i < vs_device_count; ++i) {
                if (vs_devices[i].pdo) {
                    vs_stop_child(i);
                    IoDeleteDevice(vs_devices[i].pdo);
                    vs_devices[i].pdo = NULL;
                }
            }
            irp->IoStatus.Status = STATUS_SUCCESS;
            IoSkipCurrentIrpStackLocation(irp);
            status = IoCallDriver(lower, irp);
            IoDetachDevice(lower);
            IoDeleteDevice(vs_bus);
            vs_bus = NULL;
            vs_bus_lower = NULL;
            return status;
        default:
            break;
    }
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower, irp);
}

static NTSTATUS WINAPI vs_dispatch_pnp(DEVICE_OBJECT* device, IRP* irp) {
    struct vs_extension* ext = device->DeviceExtension;
    NTSTATUS status;
    if (ext->kind == VS_BUS)
        return vs_bus_pnp(irp);
    if (ext->kind == VS_CHILD)
        return vs_child_pnp(device, irp);
    status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS WINAPI vs_add_device(DRIVER_OBJECT* driver, DEVICE_OBJECT* pdo) {
    struct vs_extension* ext;
    NTSTATUS status;
    ULONG i;

    if (vs_bus) {
        DbgPrint(VS_TAG "a second root device is not served\n");
        return STATUS_DEVICE_ALREADY_ATTACHED;
    }
    status = IoCreateDevice(driver, sizeof(struct vs_extension), NULL, FILE_DEVICE_BUS_EXTENDER, 0,
                            FALSE, &vs_bus);
    if (!NT_SUCCESS(status)) {
        vs_signal_failed("creating the bus device", status);
        return status;
    }
    ext = vs_bus->DeviceExtension;
    ext->kind = VS_BUS;
    ext->target = 0;

    for (i = 0; i < vs_device_count; ++i) {
        status = vs_create_named(L"\\Device\\VeloServed", i, FILE_DEVICE_DISK, VS_CHILD, i, driver,
                                 &vs_devices[i].pdo);
        if (!NT_SUCCESS(status)) {
            vs_signal_failed("creating a child device", status);
            while (i--) {
                IoDeleteDevice(vs_devices[i].pdo);
                vs_devices[i].pdo = NULL;
            }
            IoDeleteDevice(vs_bus);
            vs_bus = NULL;
            return status;
        }
    }

    vs_bus_lower = IoAttachDeviceToDeviceStack(vs_bus, pdo);
    vs_bus->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

/* ---- load and unload ---- */

static NTSTATUS vs_create_event(const WCHAR* path, HANDLE* out) {
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attr;
    RtlInitUnicodeString(&name, path);
    InitializeObjectAttributes(&attr, &name, OBJ_OPENIF | OBJ_KERNEL_HANDLE, NULL, NULL);
    return ZwCreateEvent(out, EVENT_ALL_ACCESS, &attr, NotificationEvent, FALSE);
}

static void WINAPI vs_unload(DRIVER_OBJECT* driver) {
    ULONG i;
    (void)driver;
    for (i = 0; vs_ports && i < vs_port_count; ++i) {
        if (vs_ports[i].linked)
            vs_unlink(L"Scsi", vs_ports[i].number, L":");
        if (vs_ports[i].device)
            IoDeleteDevice(vs_ports[i].device);
    }
    if (vs_control) {
        vs_unlink(L"VeloServedControl", 0, L"");
        IoDeleteDevice(vs_control);
    }
    if (vs_ready_event)
        ZwClose(vs_ready_event);
    if (vs_failed_event)
        ZwClose(vs_failed_event);
    vs_free_served();
}

NTSTATUS WINAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registry) {
    static WCHAR control_name[] = L"\\Device\\VeloServedControl";
    static WCHAR control_link[] = L"\\DosDevices\\VeloServedControl";
    UNICODE_STRING name, link;
    struct vs_extension* ext;
    NTSTATUS status;
    ULONG i;

    (void)registry;
    KeInitializeMutex(&vs_lock, 0);

    if (!NT_SUCCESS(status =
                        vs_create_event(L"\\BaseNamedObjects\\VeloServedReady", &vs_ready_event)) ||
        !NT_SUCCESS(
            status = vs_create_event(L"\\BaseNamedObjects\\VeloServedFailed", &vs_failed_event))) {
        DbgPrint(VS_TAG "cannot create the ready events, status %#lx\n", (unsigned long)status);
        vs_unload(driver);
        return status;
    }
    ZwClearEvent(vs_ready_event);
    ZwClearEvent(vs_failed_event);

    if (!NT_SUCCESS(status = vs_read_file())) {
        vs_signal_failed("reading C:\\velo-served.bin", status);
        vs_unload(driver);
        return status;
    }

    driver->DriverExtension->AddDevice = vs_add_device;
    driver->DriverUnload = vs_unload;
    for (i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i)
        driver->MajorFunction[i] = vs_dispatch_invalid;
    driver->MajorFunction[IRP_MJ_CREATE] = vs_dispatch_success;
    driver->MajorFunction[IRP_MJ_CLOSE] = vs_dispatch_success;
    driver->MajorFunction[IRP_MJ_CLEANUP] = vs_dispatch_success;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = vs_dispatch_ioctl;
    driver->MajorFunction[IRP_MJ_PNP] = vs_dispatch_pnp;

    RtlInitUnicodeString(&name, control_name);
    RtlInitUnicodeString(&link, control_link);
    status = IoCreateDevice(driver, sizeof(struct vs_extension), &name, FILE_DEVICE_UNKNOWN, 0,
                            FALSE, &vs_control);
    if (NT_SUCCESS(status)) {
        ext = vs_control->DeviceExtension;
        ext->kind = VS_CONTROL;
        ext->target = 0;
        vs_control->Flags &= ~DO_DEVICE_INITIALIZING;
        IoDeleteSymbolicLink(&link);
        status = IoCreateSymbolicLink(&link, &name);
    }
    if (!NT_SUCCESS(status)) {
        vs_signal_failed("creating \\\\.\\VeloServedControl", status);
        vs_unload(driver);
        return status;
    }

    for (i = 0; i < vs_port_count; ++i) {
        status = vs_create_named(L"\\Device\\VeloServedPort", i, FILE_DEVICE_CONTROLLER, VS_PORT,
                                 vs_device_count + i, driver, &vs_ports[i].device);
        if (NT_SUCCESS(status))
            status = vs_link(L"Scsi", vs_ports[i].number, L":", L"\\Device\\VeloServedPort", i);
        if (!NT_SUCCESS(status)) {
            vs_signal_failed("creating a port device", status);
            vs_unload(driver);
            return status;
        }
        vs_ports[i].linked = TRUE;
    }
    return STATUS_SUCCESS;
}
