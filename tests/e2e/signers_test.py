"""End to end: version strings, signers and the assembly-cache skip rule in real scans of files
built for the tests (windres version resources, copies signed with a throw-away CA)."""
import os
import shutil
import subprocess
import unittest

from vantorag_e2e import (BUILD, EMULATOR, OFFLINE, SIGNED, TempDirTest, parse_report, run, state_fields,
                          trust_signed_fixtures, win_path)

FIXTURES = os.path.join(BUILD, "tests", "analysis", "fixtures")
SIGNER = "Vantorag Test Code Signer"
# A folder of our own inside the assembly cache, which Wine's prefix lacks.
GAC = "C:\\windows\\assembly"
GAC_SUB = GAC + "\\vantorag_e2e"


def wine(*args):
    subprocess.run([EMULATOR] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)


class SignersAndVersions(TempDirTest):
    def setUp(self):
        super().setUp()
        self.assertIsNone(trust_signed_fixtures())
        self.made_gac = False

    def tearDown(self):
        if self.made_gac:
            wine("cmd", "/c", "rmdir", "/s", "/q", GAC)
        super().tearDown()

    def copy(self, source, name):
        os.makedirs(self.path("fx"), exist_ok=True)
        shutil.copyfile(source, self.path("fx/" + name))
        return win_path(self.path("fx/" + name)).lower()

    def plant_in_gac(self, pairs):
        """Copies fixtures into the assembly cache through Wine's own cmd (the drive is the prefix's)."""
        self.made_gac = True
        wine("cmd", "/c", "mkdir", GAC_SUB)
        for source, name in pairs:
            wine("cmd", "/c", "copy", "/y", win_path(source), GAC_SUB + "\\" + name)

    def scan(self, scope, *extra):
        result = run(["--scope=" + scope, "--output=" + self.wpath("r.xml"), "--status=" + self.wpath("s.txt")]
                     + OFFLINE + list(extra))
        self.assertEqual(0, result.exit_code, result.stdout)
        report = parse_report(self.path("r.xml"))
        return {m.get("Path").lower(): m for m in report.iter("Module") if m.get("Path")}, state_fields(self.path("s.txt"))

    def test_signers_and_version_attributes(self):
        files = {
            "signed": self.copy(os.path.join(SIGNED, "signed.exe"), "signed.exe"),
            "tampered": self.copy(os.path.join(SIGNED, "tampered.exe"), "tampered.exe"),
            "unsigned": self.copy(os.path.join(SIGNED, "unsigned.exe"), "unsigned.exe"),
            "bare": self.copy(os.path.join(BUILD, "tools", "launcher", "launcher.exe"), "bare.exe"),
        }
        modules, _ = self.scan(self.wpath("fx"))
        version = {"Description": "Trimmed fixture", "Version": "6.1.7600.16385",
                   "Copyright": "(c) Vantorag Tests", "Product": "Vantorag Fixtures"}
        expected = {
            "signed": dict(version, Signer=SIGNER),
            "tampered": dict(version, Signer=None),
            "unsigned": dict(version, Signer=None),
            "bare": {"Signer": None, "Description": None, "Version": None, "Copyright": None, "Product": None},
        }
        for name, attributes in expected.items():
            with self.subTest(name):
                self.assertIn(files[name], modules)
                m = modules[files[name]]
                for attribute, value in attributes.items():
                    self.assertEqual(value, m.get(attribute), attribute)

    def test_skip_gac_is_case_sensitive_and_only_in_the_cache(self):
        outside = self.copy(os.path.join(FIXTURES, "gac_vendor.exe"), "outside.dll")
        self.plant_in_gac([(os.path.join(FIXTURES, "gac_vendor.exe"), "vendor.dll"),
                           (os.path.join(FIXTURES, "gac_capitals.exe"), "capitals.dll")])
        vendor, capitals = (GAC_SUB + "\\vendor.dll").lower(), (GAC_SUB + "\\capitals.dll").lower()

        modules, state = self.scan(self.wpath("fx") + "|" + GAC_SUB, "--skipGAC")
        self.assertNotIn(vendor, modules)
        self.assertEqual("MICROSOFT CORP", modules[capitals].get("Copyright"))
        self.assertEqual("(c) Microsoft Corporation", modules[outside].get("Copyright"))
        self.assertEqual(1, state["Skipped"])
        self.assertEqual(3, state["FilesFound"])
        self.assertEqual(3, state["FilesProcessed"])

        # Without the option the same file is reported.
        modules, state = self.scan(self.wpath("fx") + "|" + GAC_SUB)
        self.assertIn(vendor, modules)
        self.assertEqual(0, state["Skipped"])


if __name__ == "__main__":
    unittest.main()
