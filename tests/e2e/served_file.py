#!/usr/bin/env python3
"""Writes small served files for the driver's own test: one that brings up a controller and its
disk with two replies, and damaged ones that the driver must refuse.

Usage: served_file.py KIND OUT_FILE
KIND: small, empty, bad-magic, truncated, huge-device-count, huge-string, nul-in-string,
      trailing-bytes, target-out-of-range, huge-output.
"""

import struct
import sys

CONTROLLER_ID = "PCI\\VEN_7A3C&DEV_0B21&SUBSYS_B2017A3C&REV_01"
CONTROLLER_SUFFIX = "4&2F1A3B5C&0&0008"
DISK_ID = "SCSI\\DISK&VEN_NVME&PROD_VANTORA_QX7B2"
DISK_SUFFIX = "5&1C2D3E4F&0&000000"
IOCTL_STORAGE_GET_DEVICE_NUMBER = 0x2D1080
IOCTL_STORAGE_QUERY_PROPERTY = 0x2D1400


def u32(v):
    return struct.pack("<I", v)


def text(s):
    units = s.encode("utf-16-le")
    return u32(len(units) // 2) + units


def fnv1a(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def device(dev_id, suffix, parent, desc, location, hardware_ids, interfaces, drive):
    out = text(dev_id) + text(suffix) + text(parent) + text(desc) + text(location)
    out += u32(len(hardware_ids)) + b"".join(text(h) for h in hardware_ids)
    return out + u32(interfaces) + struct.pack("<i", drive)


def reply(target, code, data, out_len, status, information, output):
    return (struct.pack("<IIIIQIII", target, code, len(data), out_len, fnv1a(data), status,
                        information, len(output)) + output)


def small(disk_id=DISK_ID, reply_target=1, output_size=None):
    """A controller with a storage port interface and its disk at PhysicalDrive0. The disk answers
    its device number, then holds a property query whose input differs from velo.exe's."""
    out = b"VELOSRV1" + u32(2)
    out += device(CONTROLLER_ID, CONTROLLER_SUFFIX, "", "Standard NVM Express Controller",
                  "PCI bus 4, device 0, function 0", [CONTROLLER_ID], 1, -1)
    out += device(disk_id, DISK_SUFFIX, CONTROLLER_ID + "\\" + CONTROLLER_SUFFIX, "Disk drive",
                  "Bus Number 0, Target Id 0, LUN 0",
                  ["SCSI\\DiskNVMe____VANTORA_QX7B2_1TB", "GenDisk"], 2, 0)
    out += u32(0)  # no plain ports
    number = u32(7) + u32(0) + u32(0)  # disk device type, PhysicalDrive0, no partition
    out += u32(2)
    out += reply(reply_target, IOCTL_STORAGE_GET_DEVICE_NUMBER, b"", 12, 0, 12, number)
    if output_size is None:
        out += reply(1, IOCTL_STORAGE_QUERY_PROPERTY, b"\xff" * 12, 4144, 0, 0, b"")
    else:
        out += reply(1, IOCTL_STORAGE_QUERY_PROPERTY, b"\xff" * 12, 4144, 0, 0,
                     b"\0" * output_size)
    return out


def main():
    kind, path = sys.argv[1], sys.argv[2]
    good = small()
    files = {
        "small": good,
        "empty": b"",
        "bad-magic": b"VELOSRV2" + good[8:],
        "truncated": good[:-5],
        "huge-device-count": good[:8] + u32(0x7FFFFFFF) + good[12:],
        # The controller's device id claims more code units than the file holds.
        "huge-string": good[:12] + u32(0x40000000) + good[16:],
        "nul-in-string": small(disk_id="SCSI\\DISK\0VEN_NVME"),
        "trailing-bytes": good + b"\0",
        "target-out-of-range": small(reply_target=2),
        # The last reply's output size runs past the end of the file.
        "huge-output": good[:-4] + u32(0xFFFFFFF0),
    }
    if kind not in files:
        sys.exit("unknown kind " + kind)
    with open(path, "wb") as f:
        f.write(files[kind])


if __name__ == "__main__":
    main()
