#!/usr/bin/env python3
"""Runs the tandel-profile tool as a user would and checks what it prints,
its exit status and the file it leaves. Usage: tandel_profile_test.py TOOL"""
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = sys.argv.pop(1)


def run(*args):
    done = subprocess.run([TOOL, *args], capture_output=True, text=True)
    return done.returncode, done.stdout, done.stderr


class TandelProfileTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "app.rc")

    def tearDown(self):
        self.dir.cleanup()

    def content(self):
        with open(self.path, "rb") as f:
            return f.read()

    def test_set_then_get(self):
        self.assertEqual(run("-f", self.path, "set", "net", "port", "8080")[0], 0)
        self.assertEqual(run("-f", self.path, "set", "net", "host", "a b=c ")[0], 0)
        self.assertEqual(run("-f", self.path, "set", "net", "port", "9090")[0], 0)
        self.assertEqual(self.content(), b"[net]\nport=9090\nhost=a b=c \n")
        self.assertEqual(run("-f", self.path, "get", "net", "host"), (0, "a b=c \n", ""))
        self.assertEqual(os.stat(self.path).st_mode & 0o777, 0o600)

    def test_absent_entries_exit_1(self):
        with open(self.path, "w") as f:
            f.write("[net]\nempty=\n")
        self.assertEqual(run("-f", self.path, "get", "net", "empty"), (0, "\n", ""))
        self.assertEqual(run("-f", self.path, "get", "net", "missing")[0], 1)
        self.assertEqual(run("-f", self.path, "get", "other", "empty")[0], 1)
        missing = os.path.join(self.dir.name, "none.rc")
        self.assertEqual(run("-f", missing, "get", "net", "port")[0], 1)
        self.assertFalse(os.path.exists(missing))

    def test_refused_arguments_exit_2_and_change_nothing(self):
        with open(self.path, "w") as f:
            f.write("[net]\nport=1\n")
        for section, key, value in [("net", "a=b", "v"), ("net", "k", "[v]"), ("n]t", "k", "v"),
                                    ("net", "k", "x" * 260), ("s" * 253, "k", "v")]:
            code, out, err = run("-f", self.path, "set", section, key, value)
            self.assertEqual(code, 2, (section, key, value))
            self.assertTrue(err.startswith("tandel-profile: "), err)
        self.assertEqual(self.content(), b"[net]\nport=1\n")

    def test_unusable_file_exits_2(self):
        nowhere = os.path.join(self.dir.name, "no", "such", "dir.rc")
        code, out, err = run("-f", nowhere, "set", "s", "k", "v")
        self.assertEqual(code, 2)
        self.assertIn("No such file or directory", err)
        code, out, err = run("-f", self.dir.name, "get", "s", "k")
        self.assertEqual(code, 2)
        self.assertIn("Is a directory", err)

    def test_usage(self):
        self.assertEqual(run("get", "only-section")[0], 2)
        self.assertEqual(run("-f", self.path, "delete", "s", "k")[0], 2)

    def test_default_profile(self):
        if os.path.exists("/etc/velonix/Tandel.rc"):
            self.skipTest("this machine has a default profile")
        self.assertEqual(run("get", "s", "k")[0], 1)
        self.assertFalse(os.path.exists("/etc/velonix/Tandel.rc"))


if __name__ == "__main__":
    unittest.main()
