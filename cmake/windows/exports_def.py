#!/usr/bin/env python3
"""Writes the module-definition file of qcsdk.dll from the public headers.

Every declaration `QCSDK_API <type> <convention> <name>(<parameters>);` is
one export. Standard-call exports (QCSDK_CALL) are exported under their
plain name and imported by a host under the decorated one (`name@bytes`),
so the import library's file has lines `name@bytes == name`. The DLL is
linked with a second file of lines `name = name@bytes` instead: the linker
sorts the export table by the first name of a line, and lookups by name
(GetProcAddress, the loader) search that table by halves, so it must be
sorted by the exported names ("QCSDK_Connect2" after "QCSDK_Connect",
where "QCSDK_Connect2@36" sorts before "QCSDK_Connect@28"). The exports
listed in KEEP_DECORATED keep the decorated name in the export table.
C-convention functions (QVBU_CALL, QCSDK_CALLBACK) are undecorated on both
sides.

With --msvc, two more files describe the import library of hosts built with
the other common 32-bit Windows toolchain (qcsdk.lib, written by
llvm-dlltool and llvm-lib): MSVC.def lists every export by the compiler's
symbol for llvm-dlltool's --kill-at, which has the import ask the DLL for
the plain name; EXACT.def lists the exports of KEEP_DECORATED, which the
DLL exports under the symbol itself.

usage: exports_def.py [--msvc MSVC.def EXACT.def] IMPORT.def LINK.def DLLNAME BITS HEADER...
"""
import re
import sys

KEEP_DECORATED = {"QCSDK_SetNetCard": "_QCSDK_SetNetCard@4"}
STDCALL = {"QCSDK_CALL"}
CDECL = {"QVBU_CALL", "QCSDK_CALLBACK"}
# Parameter types wider than a 32-bit stack slot; everything else (integers
# up to 32 bits, enumerations, pointers, function pointers) takes one slot.
WIDE = {"int64_t": 8, "uint64_t": 8, "double": 8, "long long": 8,
        "unsigned long long": 8}

DECL = re.compile(r"QCSDK_API\s+[\w\s\*]+?\s+(\w+)\s+(\w+)\s*\(([^;{)]*)\)\s*;")


def argument_bytes(parameters):
    total = 0
    for param in parameters.split(","):
        param = " ".join(param.split())
        if param in ("", "void"):
            continue
        if "*" in param:
            total += 4
            continue
        words = param.split()
        base = " ".join(w for w in words[:-1] if w not in ("const", "volatile"))
        total += WIDE.get(base, 4)
    return total


def exports(text, bits):
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r"^\s*#[^\n]*", "", text, flags=re.M)
    for convention, name, parameters in DECL.findall(text):
        if convention in STDCALL:
            symbol = name if bits == 64 else "%s@%d" % (name, argument_bytes(parameters))
            exported = KEEP_DECORATED.get(name, name)
            yield symbol, exported
        elif convention in CDECL:
            yield name, name
        else:
            sys.exit("exports_def.py: %s has no known calling convention (%s)" % (name, convention))


def write(output, dll, lines):
    text = "LIBRARY %s\nEXPORTS\n%s\n" % (dll, "\n".join("  " + line for line in lines))
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


def main():
    args = sys.argv[1:]
    msvc = None
    if args[0] == "--msvc":
        msvc, args = args[1:3], args[3:]
    imports, link, dll, bits = args[0], args[1], args[2], int(args[3])
    headers = args[4:]
    pairs = []
    for header in headers:
        with open(header, encoding="utf-8") as f:
            pairs.extend(exports(f.read(), bits))
    if len(set(pairs)) != len(pairs):
        sys.exit("exports_def.py: an export is declared twice")
    write(imports, dll, [s if s == e else "%s == %s" % (s, e) for s, e in pairs])
    write(link, dll, [s if s == e else "%s = %s" % (e, s) for s, e in pairs])
    if msvc:
        exact = set(KEEP_DECORATED.values())
        write(msvc[0], dll, [s for s, e in pairs if e not in exact])
        write(msvc[1], dll, [e for s, e in pairs if e in exact])


if __name__ == "__main__":
    main()
