#!/usr/bin/env python3
"""Checks the shipped tessaroot.exe as a Windows 2000 loader would see it.

- a 32-bit (i386, PE32) console program;
- imports from the system's own DLLs only, and from those only functions
  that Windows 2000 has (an allowlist: a new import must be reviewed here);
- exactly one resource: RT_MANIFEST (24), ID 1, language 1033, whose bytes
  are manifest/tessaroot.manifest.
Usage: check_exe.py EXE MANIFEST
"""
import struct
import sys

ALLOWED_IMPORTS = {
    "kernel32.dll": {
        "CloseHandle", "CreateSemaphoreW", "DeleteCriticalSection", "EnterCriticalSection",
        "FormatMessageW", "FreeLibrary", "GetCurrentProcess", "GetCurrentThread",
        "GetCurrentThreadId", "GetLastError", "GetModuleHandleA", "GetModuleHandleW",
        "GetProcAddress", "GetProcessHeap", "GetStartupInfoA", "GetStartupInfoW", "GetVersionExW",
        "HeapFree", "InitializeCriticalSection", "IsDBCSLeadByteEx", "LeaveCriticalSection",
        "LoadLibraryA", "LoadLibraryW", "LocalAlloc", "LocalFree", "MultiByteToWideChar",
        "ReleaseSemaphore", "SetLastError", "SetUnhandledExceptionFilter", "Sleep", "TlsAlloc",
        "TlsFree", "TlsGetValue", "TlsSetValue", "VirtualProtect", "VirtualQuery",
        "WaitForSingleObject", "WideCharToMultiByte", "lstrlenW",
    },
    "advapi32.dll": {
        "AdjustTokenPrivileges", "ConvertStringSecurityDescriptorToSecurityDescriptorW",
        "CopySid", "GetAce", "GetAclInformation", "GetLengthSid", "GetSecurityDescriptorControl",
        "GetSecurityDescriptorDacl", "GetSecurityDescriptorLength", "GetSidLengthRequired",
        "GetSidSubAuthority", "InitializeAcl", "InitializeSid", "IsValidSid", "AddAce",
        "LookupPrivilegeValueW", "MakeSelfRelativeSD", "OpenProcessToken", "OpenThreadToken",
        "RegCloseKey", "RegEnumKeyExW", "RegOpenKeyExW", "SetSecurityInfo",
    },
    "user32.dll": {"wsprintfW"},
    # msvcrt.dll of Windows 2000 has none of the bounded (_s) functions: they
    # must come from the static run-time, never from the DLL.
    "msvcrt.dll": None,
}


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem_version = struct.unpack_from("<HH", data, optional + 48)
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + 96
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(count):
            name, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((va, max(vsize, rsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("RVA %#x outside every section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        result = {}
        rva = self.directories[1][0]
        while True:
            lookup, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if name == 0:
                return result
            functions = result.setdefault(self.cstring(name).lower(), set())
            entry = self.offset(lookup or thunk)
            while True:
                value = struct.unpack_from("<I", self.data, entry)[0]
                if value == 0:
                    break
                functions.add("#%d" % (value & 0xFFFF) if value & 0x80000000 else self.cstring(value + 2))
                entry += 4
            rva += 20

    def resources(self):
        base = self.directories[2][0]
        found = []

        def walk(rva, path):
            start = self.offset(base + rva)
            named, ids = struct.unpack_from("<HH", self.data, start + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, start + 16 + 8 * i)
                key = ("name@%#x" % (ident & 0x7FFFFFFF)) if ident & 0x80000000 else ident
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + [key])
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, self.offset(base + target))
                    found.append((path + [key], self.data[self.offset(data_rva):self.offset(data_rva) + size]))

        if base:
            walk(0, [])
        return found


def main(exe, manifest):
    pe = Pe(open(exe, "rb").read())
    problems = []
    if pe.machine != 0x14C or pe.magic != 0x10B:
        problems.append("not a 32-bit i386 PE32 image")
    if pe.subsystem != 3:
        problems.append("subsystem %d is not the console (3)" % pe.subsystem)
    if pe.subsystem_version > (5, 0):
        problems.append("subsystem version %d.%d is newer than Windows 2000's 5.0" % pe.subsystem_version)

    for dll, functions in sorted(pe.imports().items()):
        if dll not in ALLOWED_IMPORTS:
            problems.append("imports %s, which a bare Windows 2000 does not have" % dll)
            continue
        allowed = ALLOWED_IMPORTS[dll]
        for function in sorted(functions):
            if allowed is None:
                if function.endswith("_s"):
                    problems.append("imports %s!%s, which Windows 2000's msvcrt lacks" % (dll, function))
            elif function not in allowed:
                problems.append("imports %s!%s, not reviewed for Windows 2000" % (dll, function))

    resources = pe.resources()
    expected = open(manifest, "rb").read()
    if [path for path, _ in resources] != [[24, 1, 1033]]:
        problems.append("resources are %s, not exactly RT_MANIFEST/1/1033" % [p for p, _ in resources])
    elif resources[0][1] != expected:
        problems.append("the manifest resource differs from %s" % manifest)

    for problem in problems:
        print("check_exe: " + problem)
    print("check_exe: %s" % ("%d problem(s)" % len(problems) if problems else "ok"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
