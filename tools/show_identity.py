#!/usr/bin/python3
"""Prints what Windows shows in a file's Properties: version block, subsystem and icon format.

Usage: tools/show_identity.py [build/windows-x86/bin/quarrion_shell.exe]
Needs Debian's python3-pefile (make test installs it).
"""
import struct
import sys

import pefile

path = sys.argv[1] if len(sys.argv) > 1 else "build/windows-x86/bin/quarrion_shell.exe"
pe = pefile.PE(path)

fixed = pe.VS_FIXEDFILEINFO[0]
numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
           fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
print("File version:     " + ".".join(map(str, numbers)))
for info in pe.FileInfo[0]:
    for table in getattr(info, "StringTable", []):
        print(f"String table {table.LangID.decode()}:")
        for key, value in table.entries.items():
            print(f"  {key.decode():<17} {value.decode()}")
    for var in getattr(info, "Var", []):
        for key, value in var.entry.items():
            print(f"{key.decode()}:      {value}")
print("Subsystem:        " + pefile.SUBSYSTEM_TYPE[pe.OPTIONAL_HEADER.Subsystem])

for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if kind.id != pefile.RESOURCE_TYPE["RT_GROUP_ICON"]:
        continue
    for group in kind.directory.entries:
        data = group.directory.entries[0].data.struct
        raw = pe.get_data(data.OffsetToData, data.Size)
        count = struct.unpack_from("<H", raw, 4)[0]
        for i in range(count):
            width, height, _, _, _, bits = struct.unpack_from("<BBBBHH", raw, 6 + 14 * i)
            print(f"Icon group {group.id}: {width or 256}x{height or 256}, {bits} bits per pixel")
