#!/usr/bin/env python3
"""Writes the module-definition file of qcsdk.dll from the public headers.

Every declaration `QCSDK_API <type> <convention> <name>(<parameters>);` is
one export. Standard-call exports (QCSDK_CALL) are exported under their
plain name and imported by a host under the decorated one (`name@bytes`),
so one line serves both the link and the import library:
`name@bytes == name`. The exports listed in KEEP_DECORATED keep the
decorated name in the export table. C-convention functions (QVBU_CALL,
QCSDK_CALLBACK) are undecorated on both sides.

usage: exports_def.py OUTPUT.def DLLNAME HEADER...
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
            yield symbol if symbol == exported else "%s == %s" % (symbol, exported)
        elif convention in CDECL:
            yield name
        else:
            sys.exit("exports_def.py: %s has no known calling convention (%s)" % (name, convention))


def main():
    output, dll, bits, headers = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
    lines = []
    for header in headers:
        with open(header, encoding="utf-8") as f:
            lines.extend(exports(f.read(), bits))
    if len(set(lines)) != len(lines):
        sys.exit("exports_def.py: an export is declared twice")
    text = "LIBRARY %s\nEXPORTS\n%s\n" % (dll, "\n".join("  " + line for line in lines))
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
