"""End to end: real scans of fixture folders, processes and drivers, read back from the report
and the state file."""
import hashlib
import os
import subprocess
import time
import unittest

from vantorag_e2e import BUILD, EMULATOR, OFFLINE, TempDirTest, parse_report, run, state_fields, win_path

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "schema", "AptReport.xsd")


def small_pe(size, fill=b"\0"):
    """Bytes that pass the PE filter: the "MZ" mark and at least 64 bytes."""
    body = b"MZ" + bytes(62)
    return body + (fill * (size - len(body)))[: max(0, size - len(body))]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class FolderScan(TempDirTest):
    """A fixture folder: two PE files (one in a subfolder), a batch file the PE filter turns away,
    a PE-looking text file the mask filter turns away, and an empty .exe."""

    def make_fixture(self):
        files = {
            "fx/a.exe": small_pe(128, b"A"),
            "fx/sub/b.dll": small_pe(5000, b"B"),
            "fx/c.bat": b"@echo off\r\n" * 10,
            "fx/d.txt": small_pe(300),
            "fx/e.exe": b"",
        }
        for name, data in files.items():
            write(self.path(name), data)
        return {name: data for name, data in files.items() if name in ("fx/a.exe", "fx/sub/b.dll")}

    def test_folder_scope(self):
        expected = self.make_fixture()
        result = run(["--scope=" + self.wpath("fx"), "--output=" + self.wpath("r.xml"),
                      "--status=" + self.wpath("s.txt")] + OFFLINE)
        self.assertEqual(0, result.exit_code, result.stdout)
        fields = state_fields(self.path("s.txt"))
        self.assertEqual(7, fields["Phase"])
        self.assertEqual(len(expected), fields["FilesFound"])
        self.assertEqual(sum(len(d) for d in expected.values()), fields["BytesFound"])
        # Both lookup channels are off: every hashed file ends "error".
        self.assertEqual(len(expected), fields["FilesProcessed"])
        self.assertEqual(len(expected), fields["CountError"])
        self.assertEqual(0, fields["HashFailures"])

        report = parse_report(self.path("r.xml"))
        modules = {m.get("Path"): m for m in report.iter("Module") if m.get("Path")}
        for name, data in expected.items():
            with self.subTest(name):
                path = win_path(self.path(name))
                self.assertIn(path, modules)
                m = modules[path]
                self.assertEqual(hashlib.sha1(data).hexdigest().upper(), m.get("Sha1"))
                self.assertEqual(str(len(data)), m.get("Size"))
                self.assertEqual("error", m.get("Cloud"))
        self.assertEqual(len(expected), len(modules))


class FullScan(TempDirTest):
    """Processes, drivers and a folder in one run, checked against the schema and the Linux side."""

    def test_processes_drivers_and_folder(self):
        write(self.path("fx/one.exe"), small_pe(4096, b"1"))
        write(self.path("fx/two.dll"), small_pe(70, b"2"))
        event = "vantorag_e2e_sleeper_%d" % os.getpid()
        sleeper = os.path.join(BUILD, "tests", "e2e", "e2e_sleeper.exe")
        proc = subprocess.Popen([EMULATOR, sleeper, event, self.wpath("ready"), "an argument with spaces"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(600):
                if os.path.exists(self.path("ready")):
                    break
                time.sleep(0.1)
            self.assertTrue(os.path.exists(self.path("ready")), "the helper process did not start")
            result = run(["--scope=processes|drivers|" + self.wpath("fx"), "--output=" + self.wpath("r.xml"),
                          "--status=" + self.wpath("s.txt")] + OFFLINE)
        finally:
            proc.kill()
            proc.wait()
        self.assertEqual(0, result.exit_code, result.stdout)

        lint = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, self.path("r.xml")],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(0, lint.returncode, lint.stdout.decode("utf-8", "replace"))

        report = parse_report(self.path("r.xml"))
        modules = {m.get("Id"): m for m in report.find("Modules")}
        by_path = {m.get("Path").lower(): m for m in modules.values()}
        for name in ("fx/one.exe", "fx/two.dll"):
            with self.subTest(name):
                m = by_path[win_path(self.path(name)).lower()]
                self.assertEqual(hashlib.sha1(open(self.path(name), "rb").read()).hexdigest().upper(), m.get("Sha1"))

        # Every reference names a written module or is 0.
        refs = [e.get("ModuleRefId") for e in report.iter() if e.get("ModuleRefId") is not None]
        self.assertTrue(refs)
        for ref in refs:
            self.assertTrue(ref == "0" or ref in modules, "dangling ModuleRefId %s" % ref)

        # The three drivers Wine reports are under the Windows folder.
        drivers = [modules.get(d.get("ModuleRefId")) for d in report.find("Drivers")]
        driver_paths = sorted(m.get("Path").lower() for m in drivers if m is not None)
        self.assertIn("c:\\windows\\system32\\ntoskrnl.exe", driver_paths)

        # The helper process with its command line and main image.
        sleepers = [p for p in report.find("Processes") if "an argument with spaces" in p.get("Cmd", "")]
        self.assertEqual(1, len(sleepers), [p.get("Cmd") for p in report.find("Processes")])
        main = modules.get(sleepers[0].get("ModuleRefId"))
        self.assertIsNotNone(main)
        self.assertTrue(main.get("Path").lower().endswith("e2e_sleeper.exe"))

        # State counters agree with the report.
        fields = state_fields(self.path("s.txt"))
        self.assertEqual(7, fields["Phase"])
        self.assertEqual(len(modules), fields["FilesFound"])
        self.assertEqual(sum(int(m.get("Size")) for m in modules.values()), fields["BytesFound"])
        self.assertEqual(fields["FilesFound"], fields["FilesProcessed"])
        zero = "0" * 40
        self.assertEqual(sum(1 for m in modules.values() if m.get("Sha1") == zero), fields["HashFailures"])
        self.assertEqual(sum(1 for m in modules.values() if m.get("Cloud") == "error"), fields["CountError"])
        self.assertEqual(fields["FilesProcessed"] - fields["HashFailures"], fields["CountError"])


if __name__ == "__main__":
    unittest.main()
