#!/usr/bin/env python3
"""Generates the RPC structures, descriptors and stubs from the method catalogue.

Usage: qvbu_gen.py CATALOGUE OUTDIR

Writes into OUTDIR:
  include/qcsdk/qcsdk_grpc.h  public header: structures and export prototypes
  qvbu_descriptors.cpp        descriptor tables, method table, layout asserts
  qvbu_stubs.cpp              the thin client/server stubs and the exports
  qvbu_s_userdef.cpp          default server handlers and the server table
  qvbu_stub_table.cpp         uniform-signature table of every stub (tests)
  qvbu_layout_check.c         C11 layout asserts for a 32-bit compile check

Python 3 standard library only. Every file is written only when its text
changes, so an unchanged catalogue rebuilds nothing.
"""

import json
import os
import re
import sys

GENERATOR_VERSION = 1
DESCRIPTOR_ABI = 1  # must equal qcsdk::grpc::kDescriptorAbi
USERDEF_FIRST_LINE = 8  # line of the first default handler
USERDEF_LINE_STEP = 23  # lines per default handler in the handler file
USERDEF_PATH = r"..\..\..\src\grpc\qvbu_s_userdef"

SCALARS = ("number", "bool", "string")
IDENT = re.compile(r"^[A-Za-z_][A-Za-z0-9_]*$")
RESERVED = set(
    "auto break case char const continue default do double else enum extern float for goto if "
    "inline int long register restrict return short signed sizeof static struct switch typedef "
    "union unsigned void volatile while bool true false class delete new this template typename "
    "namespace operator private protected public virtual friend using try catch throw explicit "
    "mutable export and or not xor asm".split())


class CatalogueError(Exception):
    pass


def shape_key(members):
    return json.dumps(members, sort_keys=True, separators=(",", ":"))


def check_members(members, where):
    if not isinstance(members, list) or not members:
        raise CatalogueError("%s: members must be a non-empty list" % where)
    seen = set()
    for m in members:
        name = m.get("name")
        if not isinstance(name, str) or not IDENT.match(name) or name in RESERVED:
            raise CatalogueError("%s: bad member name %r" % (where, name))
        if name.lower() in seen:
            raise CatalogueError("%s: member %s repeats (names match without case)" % (where, name))
        seen.add(name.lower())
        t = m.get("type")
        if t in SCALARS:
            if set(m) != {"name", "type"}:
                raise CatalogueError("%s.%s: unexpected keys" % (where, name))
        elif t == "object":
            check_members(m.get("members"), where + "." + name)
        elif t == "array":
            items = m.get("items")
            if items == "object":
                check_members(m.get("members"), where + "." + name)
            elif items in ("number", "string"):
                if "members" in m:
                    raise CatalogueError("%s.%s: scalar array with members" % (where, name))
            else:
                raise CatalogueError("%s.%s: bad array items %r" % (where, name, items))
            if (name + "_count").lower() in [x["name"].lower() for x in members]:
                raise CatalogueError("%s.%s: count field name is taken" % (where, name))
        else:
            raise CatalogueError("%s.%s: bad type %r" % (where, name, t))


class Struct:
    """One C structure: its name, members and computed layouts."""

    def __init__(self, c_name, members, shape=None):
        self.c_name = c_name
        self.members = members
        self.shape = shape
        self.fields = []  # (member, c_decl_type, field_name, kind, child Struct or None)
        self.layout = {}  # bits -> (size, align, {field: offset})


class Model:
    def __init__(self, catalogue):
        if catalogue.get("format") != 1:
            raise CatalogueError("unknown catalogue format")
        self.version = int(catalogue["version"])
        self.methods = catalogue["methods"]
        self.shapes = {}
        self.structs = []  # in dependency order (children first)
        self.by_key = {}
        self.shape_uses = {}
        names = set()
        for s in catalogue["shapes"]:
            if not IDENT.match(s["name"]) or s["name"] in names:
                raise CatalogueError("bad or repeated shape name %r" % s["name"])
            names.add(s["name"])
            check_members(s["members"], "shape " + s["name"])
            key = shape_key(s["members"])
            if key in self.shapes:
                raise CatalogueError("shape %s repeats another shape" % s["name"])
            self.shapes[key] = s["name"]
        seen = set()
        for m in self.methods:
            if not IDENT.match(m["name"]) or m["name"] in seen:
                raise CatalogueError("bad or repeated method name %r" % m["name"])
            seen.add(m["name"])
            for side in ("param", "result"):
                if m[side] is not None:
                    check_members(m[side], m["name"] + "." + side)
        self._count_uses()
        for m in self.methods:
            for side in ("param", "result"):
                if m[side] is not None:
                    m["_" + side] = self._struct("qvbu_%s_%s" % (m["name"], side), m[side], root=True)
                else:
                    m["_" + side] = None
        for key, name in self.shapes.items():
            if self.shape_uses.get(key, 0) < 2:
                raise CatalogueError("shape %s is used %d time(s); shapes are for shared members"
                                     % (name, self.shape_uses.get(key, 0)))
        for s in self.structs:
            for bits in (32, 64):
                self._layout(s, bits)

    def _count_uses(self):
        uses = {}
        first = {}

        def walk(members, where):
            for x in members:
                if "members" in x:
                    key = shape_key(x["members"])
                    uses[key] = uses.get(key, 0) + 1
                    first.setdefault(key, where + "." + x["name"])
                    walk(x["members"], where + "." + x["name"])

        for m in self.methods:
            for side in ("param", "result"):
                if m[side] is not None:
                    walk(m[side], m["name"] + "." + side)
        for key, n in uses.items():
            if n > 1 and key not in self.shapes:
                raise CatalogueError("the shape of %s recurs %d times: name it under \"shapes\""
                                     % (first[key], n))
        self.shape_uses = uses

    def _struct(self, c_name, members, root=False):
        key = shape_key(members)
        if not root and key in self.shapes:
            if key in self.by_key:
                return self.by_key[key]
            s = Struct("qvbu_shape_" + self.shapes[key], members, self.shapes[key])
            self.by_key[key] = s
        else:
            s = Struct(c_name, members)
        for x in members:
            n = x["name"]
            if x["type"] in ("number", "bool"):
                s.fields.append((x, "int32_t", n, "kNumber" if x["type"] == "number" else "kBool", None))
            elif x["type"] == "string":
                s.fields.append((x, "const char*", n, "kString", None))
            elif x["type"] == "object":
                child = self._struct(c_name + "_" + n, x["members"])
                s.fields.append((x, child.c_name, n, "kObject", child))
            else:
                items = x["items"]
                s.fields.append((x, "int32_t", n + "_count", "count", None))
                if items == "number":
                    s.fields.append((x, "int32_t*", n, "kNumberArray", None))
                elif items == "string":
                    s.fields.append((x, "const char**", n, "kStringArray", None))
                else:
                    child = self._struct(c_name + "_" + n, x["members"])
                    s.fields.append((x, child.c_name + "*", n, "kObjectArray", child))
        self.structs.append(s)
        return s

    @staticmethod
    def _layout(s, bits):
        ptr = bits // 8
        off = 0
        align = 4
        offsets = {}
        for (_, ctype, fname, kind, child) in s.fields:
            if ctype.endswith("*"):
                size, a = ptr, ptr
            elif kind == "kObject":
                size, a = child.layout[bits][0], child.layout[bits][1]
            else:
                size, a = 4, 4
            off = (off + a - 1) // a * a
            offsets[fname] = off
            off += size
            align = max(align, a)
        s.layout[bits] = ((off + align - 1) // align * align, align, offsets)


def write_if_changed(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def describe(x):
    if x["type"] == "array":
        return "array of %ss" % x["items"]
    return x["type"]


def param_type(m):
    return m["_param"].c_name + "*" if m["_param"] else "void*"


def result_type(m):
    return m["_result"].c_name + "*" if m["_result"] else "int32_t*"


HEADER_TOP = """\
/*
 * qcsdk_grpc.h: the device RPC methods. Generated from the method catalogue
 * by the qcsdk build; do not edit.
 *
 * OVERVIEW
 *
 * Each device RPC method has a request structure qvbu_<method>_param (only
 * when the method has request members) and a result structure
 * qvbu_<method>_result (only when it has result members), and the export
 *
 *   int32_t QCSDK_GRPC_<method>(int32_t channel, param*, result*);
 *
 * which sends the request over the channel, waits for the device's answer
 * and fills the result. It returns 1 when the call succeeded and 0 when the
 * channel number names no channel, the channel has no RPC context, sending
 * or receiving failed, the answer was not JSON, or the device reported an
 * error. A method without request members ignores its param argument (pass
 * NULL). A method without result members takes a pointer to one int32_t,
 * which is set to 0 once an answer has been received.
 *
 * Field mapping. The structure fields follow the JSON members in order:
 *  - number: int32_t; reads as -1 when the device leaves it out or sends
 *    another type;
 *  - bool: int32_t 0 or 1; only a JSON true reads as 1;
 *  - string: const char*; a NULL string is not sent; reads as NULL when
 *    missing;
 *  - object: a nested structure; when the device leaves the object out,
 *    all its fields read as 0;
 *  - array: an int32_t <name>_count followed by a pointer to the elements;
 *    a NULL pointer sends no array (whatever the count), NULL entries of a
 *    string array are skipped; a missing array reads as count 0 and NULL.
 * Member shapes that recur across methods share one structure
 * (qvbu_shape_<name>).
 *
 * Ownership. Strings and arrays in results are held by the channel and stay
 * valid until the channel is destroyed (after QCSDK_Disconnect or
 * QCSDK_ReleaseSDK and the end of every call using it) or until
 * QCSDK_GRPC_FreeResults releases them; never free them one by one. They
 * add up over the channel's life: a host that polls a device for months
 * calls QCSDK_GRPC_FreeResults whenever it holds no earlier result, which
 * bounds them to the results of the calls since.
 * Request structures and everything they point to belong to the caller and
 * are only read during the call.
 *
 * Threads. A call blocks the calling thread for up to the transport's time
 * budget (5 seconds on Nxl). Calls on one channel from several threads are
 * serialised; calls on different channels run side by side.
 *
 * Sessions. Call QCSDK_GRPC_Begin once before the first call on a channel and
 * QCSDK_GRPC_End after the last. On an Nxl channel Begin asks the device to
 * open its RPC exchange, and the channel takes answers only while it is open:
 * a call made without Begin (or after End) fails at once, returning 0
 * without sending anything, and the SDK logs the error line "channel N: RPC
 * call without QCSDK_GRPC_Begin fails: ..." (QCSDK_GRPC_Call returns -3 with
 * code -1, "the request could not be sent"). A Begin that the device
 * refused or left unanswered returns 0 but leaves the exchange counted as
 * open until End: calls are then sent and wait their 5 seconds. On an OCT
 * channel Begin and End do nothing and calls work without them.
 *
 * Stub functions. For each method the library also exports the functions
 * the export is built from. They work on an RPC context (qvbu_context),
 * which the exports above do not hand out: they serve tools built together
 * with the SDK, such as a device-side server. Hosts use QCSDK_GRPC_<method>.
 *
 *  - CLIENT_REQ_qvbu_<method>(ctx[, param]): builds and sends the request;
 *    0, or -1 when sending failed.
 *  - CLIENT_RESP_qvbu_<method>(ctx, result): reads the result of the last
 *    answer; 0, or the device's error code.
 *  - CLIENT_qvbu_<method>(ctx, param, result): the whole call; the first
 *    non-zero code of request, receive and result.
 *  - SERVER_PARSE_REQ_qvbu_<method>(ctx, root, param): reads a received
 *    request's "param" into param (strings and arrays in ctx).
 *  - SERVER_GENERATE_RESP_qvbu_<method>(ctx, root, result): adds "result"
 *    to a response object.
 *  - USERDEF_qvbu_<method>(ctx): the default server handler; answers
 *    -32001 "Method not implemented".
 */
#ifndef QCSDK_QCSDK_GRPC_H
#define QCSDK_QCSDK_GRPC_H

#include <stdint.h>

#include <qcsdk/qcsdk.h>

/* Catalogue version and method count this header was generated from, and
 * the descriptor layout the library's marshaller was built for. */
#define QVBU_CATALOGUE_VERSION {version}
#define QVBU_METHOD_COUNT {count}
#define QVBU_DESCRIPTOR_ABI {abi}
#define QVBU_GENERATOR_VERSION {genver}

/* Calling convention of the stub functions: the C convention. */
#define QVBU_CALL QCSDK_CALLBACK

#ifdef __cplusplus
extern "C" {{
#endif

/* The RPC context of a channel (opaque). */
typedef struct qvbu_context qvbu_context;
/* A JSON tree node of the cJSON library (server stubs only). */
struct cJSON;

"""


def gen_header(model):
    out = [HEADER_TOP.format(version=model.version, count=len(model.methods), abi=DESCRIPTOR_ABI,
                             genver=GENERATOR_VERSION)]
    out.append("/* ---------------------------------------------------------------------- */\n")
    out.append("/* Structures. */\n\n")
    for s in model.structs:
        if s.shape:
            out.append("/* Shared member shape \"%s\". */\n" % s.shape)
        out.append("typedef struct %s {\n" % s.c_name)
        for (x, ctype, fname, kind, child) in s.fields:
            if kind == "count":
                note = "number of elements of %s" % x["name"]
            else:
                note = '"%s": %s' % (x["name"], describe(x))
            out.append("  %s %s; /* %s */\n" % (ctype, fname, note))
        out.append("} %s;\n\n" % s.c_name)
    out.append("/* ---------------------------------------------------------------------- */\n")
    out.append("/* Methods, in the order of the server method table. */\n\n")
    for m in model.methods:
        n = m["name"]
        pt, rt = param_type(m), result_type(m)
        req = "request: %s" % (m["_param"].c_name if m["_param"] else "none (pParam ignored)")
        res = "result: %s" % (m["_result"].c_name if m["_result"] else "none (*pResult set to 0)")
        out.append('/* "%s"; %s; %s. */\n' % (n, req, res))
        out.append("QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_%s(int32_t channel, %s pParam, %s pResult);\n"
                   % (n, pt, rt))
        if m["_param"]:
            out.append("QCSDK_API int32_t QVBU_CALL CLIENT_REQ_qvbu_%s(qvbu_context* ctx, %s param);\n"
                       % (n, pt))
        else:
            out.append("QCSDK_API int32_t QVBU_CALL CLIENT_REQ_qvbu_%s(qvbu_context* ctx);\n" % n)
        out.append("QCSDK_API int32_t QVBU_CALL CLIENT_RESP_qvbu_%s(qvbu_context* ctx, %s result);\n"
                   % (n, rt))
        out.append("QCSDK_API int32_t QVBU_CALL CLIENT_qvbu_%s(qvbu_context* ctx, %s param, %s result);\n"
                   % (n, pt, rt))
        out.append("QCSDK_API void QVBU_CALL SERVER_PARSE_REQ_qvbu_%s(qvbu_context* ctx, "
                   "struct cJSON* root, %s param);\n" % (n, pt))
        out.append("QCSDK_API void QVBU_CALL SERVER_GENERATE_RESP_qvbu_%s(qvbu_context* ctx, "
                   "struct cJSON* root, %s result);\n" % (n, rt))
        out.append("QCSDK_API int32_t QVBU_CALL USERDEF_qvbu_%s(qvbu_context* ctx);\n\n" % n)
    out.append("#ifdef __cplusplus\n}\n#endif\n\n#endif /* QCSDK_QCSDK_GRPC_H */\n")
    return "".join(out)


def gen_descriptors(model):
    out = ["// Generated from the method catalogue; do not edit.\n",
           "#include <cstddef>\n\n#include <qcsdk/qcsdk_grpc.h>\n\n#include \"grpc/grpc_descriptor.h\"\n\n",
           "static_assert(QVBU_DESCRIPTOR_ABI == qcsdk::grpc::kDescriptorAbi,\n"
           "              \"generated descriptors do not match the marshaller: rebuild\");\n\n",
           "namespace qcsdk::grpc {\nnamespace {\n\n",
           "constexpr bool k64 = sizeof(void*) == 8;\n\n"]
    for s in model.structs:
        out.append("// %s\n" % s.c_name)
        s32, _, o32 = s.layout[32]
        s64, _, o64 = s.layout[64]
        out.append("static_assert(sizeof(%s) == (k64 ? %d : %d));\n" % (s.c_name, s64, s32))
        for (_, _, fname, _, _) in s.fields:
            out.append("static_assert(offsetof(%s, %s) == (k64 ? %d : %d));\n"
                       % (s.c_name, fname, o64[fname], o32[fname]))
        rows = []
        for (x, ctype, fname, kind, child) in s.fields:
            if kind == "count":
                continue
            nested = "&k_%s" % child.c_name if child else "nullptr"
            if kind in ("kNumber", "kBool", "kString"):
                esize, count = "0", "0"
            elif kind == "kObject":
                esize, count = "sizeof(%s)" % child.c_name, "0"
            else:
                elem = ctype[:-1]
                esize = "sizeof(%s)" % elem
                count = "offsetof(%s, %s_count)" % (s.c_name, x["name"])
            rows.append("    {\"%s\", offsetof(%s, %s), FieldKind::%s, %s, %s, %s},\n"
                        % (x["name"], s.c_name, fname, kind, esize, nested, count))
        out.append("constexpr FieldDesc k_%s_fields[] = {\n%s};\n" % (s.c_name, "".join(rows)))
        out.append("constexpr ObjectDesc k_%s = {\"%s\", k_%s_fields, %d, sizeof(%s)};\n\n"
                   % (s.c_name, s.c_name, s.c_name, len(rows), s.c_name))
    out.append("}  // namespace\n\n")
    out.append("const MethodDesc kMethods[] = {\n")
    for i, m in enumerate(model.methods):
        p = "&k_%s" % m["_param"].c_name if m["_param"] else "nullptr"
        r = "&k_%s" % m["_result"].c_name if m["_result"] else "nullptr"
        out.append("    {\"%s\", %s, %s, %d},\n" % (m["name"], p, r, userdef_line(i)))
    out.append("};\n")
    out.append("const std::size_t kMethodCount = %d;\n" % len(model.methods))
    out.append("static_assert(sizeof(kMethods) / sizeof(kMethods[0]) == QVBU_METHOD_COUNT);\n\n")
    out.append("}  // namespace qcsdk::grpc\n")
    return "".join(out)


def userdef_line(index):
    return USERDEF_FIRST_LINE + USERDEF_LINE_STEP * index


def gen_stubs(model):
    out = ["// Generated from the method catalogue; do not edit. Every stub hands its\n",
           "// method's descriptors to the one marshaller in grpc_stubs.h.\n",
           "#include <qcsdk/qcsdk_grpc.h>\n\n#include \"grpc/grpc_stubs.h\"\n\n",
           "using qcsdk::grpc::kMethods;\nnamespace s = qcsdk::grpc::stubs;\n\n",
           "extern \"C\" {\n\n"]
    for i, m in enumerate(model.methods):
        n = m["name"]
        pt, rt = param_type(m), result_type(m)
        out.append("QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_%s(int32_t channel, %s pParam, %s pResult) {\n"
                   "  return s::Export(channel, kMethods[%d], pParam, pResult);\n}\n" % (n, pt, rt, i))
        if m["_param"]:
            out.append("QCSDK_API int32_t QVBU_CALL CLIENT_REQ_qvbu_%s(qvbu_context* ctx, %s param) {\n"
                       "  return s::Request(ctx, kMethods[%d], param);\n}\n" % (n, pt, i))
        else:
            out.append("QCSDK_API int32_t QVBU_CALL CLIENT_REQ_qvbu_%s(qvbu_context* ctx) {\n"
                       "  return s::Request(ctx, kMethods[%d], nullptr);\n}\n" % (n, i))
        out.append("QCSDK_API int32_t QVBU_CALL CLIENT_RESP_qvbu_%s(qvbu_context* ctx, %s result) {\n"
                   "  return s::Response(ctx, kMethods[%d], result);\n}\n" % (n, rt, i))
        out.append("QCSDK_API int32_t QVBU_CALL CLIENT_qvbu_%s(qvbu_context* ctx, %s param, %s result) {\n"
                   "  return s::Call(ctx, kMethods[%d], param, result);\n}\n" % (n, pt, rt, i))
        out.append("QCSDK_API void QVBU_CALL SERVER_PARSE_REQ_qvbu_%s(qvbu_context* ctx, cJSON* root, "
                   "%s param) {\n  s::ParseRequest(ctx, kMethods[%d], root, param);\n}\n" % (n, pt, i))
        out.append("QCSDK_API void QVBU_CALL SERVER_GENERATE_RESP_qvbu_%s(qvbu_context* ctx, cJSON* root, "
                   "%s result) {\n  s::GenerateResponse(ctx, kMethods[%d], root, result);\n}\n\n"
                   % (n, rt, i))
    out.append("}  // extern \"C\"\n")
    return "".join(out)


def gen_userdef(model):
    out = ["// Generated from the method catalogue; do not edit. The default server\n",
           "// handlers and the server method table.\n",
           "#include <qcsdk/qcsdk_grpc.h>\n\n#include \"grpc/grpc_stubs.h\"\n\n",
           "using qcsdk::grpc::kMethods;\n\nextern \"C\" {\n\n"]
    for i, m in enumerate(model.methods):
        out.append("QCSDK_API int32_t QVBU_CALL USERDEF_qvbu_%s(qvbu_context* ctx) {\n"
                   "  return qcsdk::grpc::stubs::DefaultHandler(ctx, kMethods[%d]);\n}\n"
                   % (m["name"], i))
    out.append("\n}  // extern \"C\"\n\nnamespace qcsdk::grpc {\n\n")
    out.append("const ServerMethod kServerMethods[] = {\n")
    for m in model.methods:
        out.append("    {\"%s\", &USERDEF_qvbu_%s, 0},\n" % (m["name"], m["name"]))
    out.append("    {nullptr, nullptr, 0},\n};\n\n}  // namespace qcsdk::grpc\n")
    return "".join(out)


def gen_stub_table(model):
    out = ["// Generated from the method catalogue; do not edit. Every stub of every\n",
           "// method behind one signature, for table-driven tests.\n",
           "#include <qcsdk/qcsdk_grpc.h>\n\n#include \"grpc/qvbu_stub_table.h\"\n\n",
           "namespace qcsdk::grpc {\n\nconst StubEntry kStubTable[] = {\n"]
    for m in model.methods:
        n = m["name"]
        pt, rt = param_type(m), result_type(m)
        req = ("CLIENT_REQ_qvbu_%s(c, static_cast<%s>(p))" % (n, pt)) if m["_param"] else \
            ("CLIENT_REQ_qvbu_%s(c)" % n)
        out.append("    {\"%s\",\n" % n)
        pname = "p" if m["_param"] else ""
        out.append("     [](qvbu_context* c, void* %s) { return %s; },\n" % (pname, req))
        out.append("     [](qvbu_context* c, void* r) { return CLIENT_RESP_qvbu_%s(c, static_cast<%s>(r)); },\n"
                   % (n, rt))
        out.append("     [](qvbu_context* c, void* p, void* r) {\n"
                   "       return CLIENT_qvbu_%s(c, static_cast<%s>(p), static_cast<%s>(r));\n     },\n"
                   % (n, pt, rt))
        out.append("     [](qvbu_context* c, cJSON* j, void* p) { SERVER_PARSE_REQ_qvbu_%s(c, j, static_cast<%s>(p)); },\n"
                   % (n, pt))
        out.append("     [](qvbu_context* c, cJSON* j, void* r) {\n"
                   "       SERVER_GENERATE_RESP_qvbu_%s(c, j, static_cast<%s>(r));\n     },\n" % (n, rt))
        out.append("     &USERDEF_qvbu_%s,\n" % n)
        out.append("     [](int32_t ch, void* p, void* r) {\n"
                   "       return QCSDK_GRPC_%s(ch, static_cast<%s>(p), static_cast<%s>(r));\n     }},\n"
                   % (n, pt, rt))
    out.append("};\n\nconst std::size_t kStubTableSize = sizeof(kStubTable) / sizeof(kStubTable[0]);\n\n")
    out.append("}  // namespace qcsdk::grpc\n")
    return "".join(out)


def gen_layout_check(model):
    out = ["/* Generated from the method catalogue; do not edit. Compiled as C11 for\n",
           " * the host's and for a 32-bit target: the structure layouts must be the ones\n",
           " * the generator computed for that pointer size. */\n",
           "#include <stddef.h>\n\n#include <qcsdk/qcsdk_grpc.h>\n\n",
           "#define QVBU_PICK(s64, s32) (sizeof(void*) == 8 ? (s64) : (s32))\n\n"]
    for s in model.structs:
        out.append("_Static_assert(sizeof(%s) == QVBU_PICK(%d, %d), \"%s\");\n"
                   % (s.c_name, s.layout[64][0], s.layout[32][0], s.c_name))
        for (_, _, fname, _, _) in s.fields:
            out.append("_Static_assert(offsetof(%s, %s) == QVBU_PICK(%d, %d), \"%s.%s\");\n"
                       % (s.c_name, fname, s.layout[64][2][fname], s.layout[32][2][fname],
                          s.c_name, fname))
    out.append("\nint qvbu_layout_check_dummy;\n")
    return "".join(out)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    catalogue_path, outdir = argv[1], argv[2]
    try:
        with open(catalogue_path, encoding="utf-8") as f:
            model = Model(json.load(f))
    except (CatalogueError, KeyError, ValueError, TypeError) as e:
        print("%s: %s" % (catalogue_path, e), file=sys.stderr)
        return 1
    write_if_changed(os.path.join(outdir, "include", "qcsdk", "qcsdk_grpc.h"), gen_header(model))
    write_if_changed(os.path.join(outdir, "qvbu_descriptors.cpp"), gen_descriptors(model))
    write_if_changed(os.path.join(outdir, "qvbu_stubs.cpp"), gen_stubs(model))
    write_if_changed(os.path.join(outdir, "qvbu_s_userdef.cpp"), gen_userdef(model))
    write_if_changed(os.path.join(outdir, "qvbu_stub_table.cpp"), gen_stub_table(model))
    write_if_changed(os.path.join(outdir, "qvbu_layout_check.c"), gen_layout_check(model))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
