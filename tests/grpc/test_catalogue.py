#!/usr/bin/env python3
"""Invariants of the RPC method catalogue and the generator's checks.

Usage: test_catalogue.py CATALOGUE GENERATOR
"""

import copy
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest

TIME_WINDOW = [("week", "string"), ("begin_hour", "number"), ("begin_min", "number"),
               ("end_hour", "number"), ("end_min", "number")]
ALARMOUT = [("almout_id", "number"), ("type", "string"), ("bNormallyClosed", "bool")]


def flat(members):
    """A member list as nested tuples, for comparisons."""
    return [(m["name"], m["type"] if m["type"] != "array" else "array:" + m["items"])
            + ((flat(m["members"]),) if "members" in m else ()) for m in members]


def walk(members):
    for m in members:
        yield m
        yield from walk(m.get("members", []))


class CatalogueTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(CATALOGUE, encoding="utf-8") as f:
            cls.cat = json.load(f)
        cls.methods = cls.cat["methods"]
        cls.by_name = {m["name"]: m for m in cls.methods}

    def members_named(self, name):
        """Every member called name, over all methods: (method, side, member)."""
        for m in self.methods:
            for side in ("param", "result"):
                for member in walk(m[side] or []):
                    if member["name"] == name:
                        yield m["name"], side, member

    def test_count_order_and_uniqueness(self):
        names = [m["name"] for m in self.methods]
        self.assertEqual(242, len(names))
        self.assertEqual(len(names), len({n.lower() for n in names}))
        self.assertEqual(["account_get_users", "account_add_user", "account_del_user"], names[:3])
        # Names kept exactly as devices know them, letter case included.
        for tricky in ("aduio_get_ability", "aduio_get_all_ability", "remoteOSD",
                       "ptz_factory_af_2M_checklens", "dev_get_info"):
            self.assertIn(tricky, names)
        self.assertNotIn("audio_get_ability", names)
        self.assertEqual(29, sum(1 for m in self.methods if m["param"] is None))
        self.assertEqual(138, sum(1 for m in self.methods if m["result"] is None))

    def test_known_methods_and_shared_shapes(self):
        self.assertEqual([("users", "array:object",
                           [("name", "string"), ("level", "string"), ("description", "string")])],
                         flat(self.by_name["account_get_users"]["result"]))
        self.assertEqual(("data", "array:number"), flat(self.by_name["login"]["param"])[1])
        for name in ("dev_update_check", "dev_update"):
            self.assertEqual(("method", "string"), flat(self.by_name[name]["param"])[0])
        task = [("bsos", "bool"), ("bAllTime", "bool"), ("maxTime", "number"),
                ("time", "array:object", TIME_WINDOW)]
        tasks = [(m, flat(x["members"])) for m, _, x in self.members_named("task")
                 if x["type"] == "object"]
        self.assertEqual(30, sum(1 for _, shape in tasks if shape == task))
        odd = {m: shape for m, shape in tasks if shape != task}
        self.assertEqual({"record_set": [("time", "array:object", TIME_WINDOW)],
                          "record_get": [("maxTime", "number"), ("time", "array:object", TIME_WINDOW)]},
                         odd)
        alarmouts = [flat(x["members"]) for _, _, x in self.members_named("alarmout")]
        self.assertEqual([ALARMOUT] * 30, alarmouts)
        for method, side, p in self.members_named("stPoints"):
            self.assertEqual(("array", [("x", "number"), ("y", "number")]),
                             (p["type"], flat(p["members"])), method)

    def run_generator(self, catalogue):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "catalogue.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump(catalogue, f)
            proc = subprocess.run([sys.executable, GENERATOR, path, os.path.join(tmp, "out")],
                                  capture_output=True, text=True)
            files = {p.name: p.read_text(encoding="utf-8")
                     for p in pathlib.Path(tmp, "out").rglob("*") if p.is_file()}
            return proc, files

    def test_generates_deterministically(self):
        a, files_a = self.run_generator(self.cat)
        b, files_b = self.run_generator(self.cat)
        self.assertEqual(0, a.returncode, a.stderr)
        self.assertEqual(files_a, files_b)
        header = files_a["qcsdk_grpc.h"]
        self.assertIn("#define QVBU_METHOD_COUNT 242", header)
        self.assertEqual(242, header.count("QCSDK_API int32_t QCSDK_CALL QCSDK_GRPC_"))
        self.assertEqual(1, header.count("typedef struct qvbu_shape_task {"))
        self.assertIn("QCSDK_GRPC_remoteOSD(", header)

    def test_rejects_bad_catalogues(self):
        undeclared = copy.deepcopy(self.cat)
        undeclared["shapes"] = [s for s in undeclared["shapes"] if s["name"] != "alarmout"]
        bad_type = copy.deepcopy(self.cat)
        bad_type["methods"][0]["result"][0]["members"][0]["type"] = "double"
        repeated = copy.deepcopy(self.cat)
        repeated["methods"].append(copy.deepcopy(repeated["methods"][0]))
        case_clash = copy.deepcopy(self.cat)
        case_clash["methods"][1]["param"].append({"name": "NAME", "type": "string"})
        unused = copy.deepcopy(self.cat)
        unused["shapes"].append({"name": "lonely", "members": [{"name": "q", "type": "bool"}]})
        for i, catalogue in enumerate((undeclared, bad_type, repeated, case_clash, unused)):
            proc, _ = self.run_generator(catalogue)
            self.assertEqual(1, proc.returncode, i)
            self.assertTrue(proc.stderr, i)


if __name__ == "__main__":
    CATALOGUE, GENERATOR = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=1)
