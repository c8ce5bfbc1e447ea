"""End to end: registry autorun fixtures imported into a fresh Wine prefix, in both registry
views, and scans with --scope=autoruns whose reports must list each entry under its category and
location with the right module."""
import glob
import os
import shutil
import subprocess
import tempfile
import unittest

from vantorag_e2e import BUILD, EMULATOR, EXE, OFFLINE, run, state_fields, win_path
from scan_test import parse_report, small_pe

WINE64 = "/usr/lib/wine/wine64"
BHO = r"Software\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects"
CLSID_NAMED = "{5E1B3A70-0000-4000-8000-00000000B001}"
CLSID_NAMELESS = "{5E1B3A70-0000-4000-8000-00000000B002}"
CLSID_32 = "{5E1B3A70-0000-4000-8000-00000000B003}"
CLSID_MENU = "{5E1B3A70-0000-4000-8000-00000000B004}"
UNMAPPED_SID = "S-1-5-21-1-2-3-4444"


def reg_text(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_multi(items):
    data = "".join(i + "\0" for i in items) + "\0"
    return "hex(7):" + ",".join("%02x" % b for b in data.encode("utf-16-le"))


class AutorunCatalogue(unittest.TestCase):
    """One fresh prefix for the class; the test that removes the profile list runs last."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vantorag_autoruns_")
        cls.prefix = os.path.join(cls.dir, "prefix")
        cls.env = {"WINE_TEST_PREFIX": cls.prefix, "WINE_TEST_PREFIX64": cls.prefix}
        # The product's emulator creates the prefix and keeps its wineserver (and so the session
        # whose start runs RunOnce values) alive for the imports and scans below.
        subprocess.run([EMULATOR, "cmd", "/c", "exit", "0"], env=dict(os.environ, **cls.env),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        cls.files = {}
        for name in ["run dir/native.exe", "run32.exe", "userrun.exe", "sysrun.exe", "ctx.dll", "bho.dll",
                     "bhononame.dll", "bho32.dll", "wrong.dll", "svc.exe", "shared.dll", "drv.sys", "dbg.exe",
                     "a.dll", "b.dll", "c.dll", "mon.dll", "notify.dll", "netsh.dll", "netsh32.dll", "codec.dll"]:
            cls.files[name] = cls.write(name, small_pe(128))
        cls.files["notpe.exe"] = cls.write("notpe.exe", b"plain text, no program" * 4)
        system32 = os.path.join(cls.prefix, "drive_c", "windows", "system32")
        with open(os.path.join(system32, "vtgknown.dll"), "wb") as f:
            f.write(small_pe(128))
        cls.import_reg(cls.fixture_keys())

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=cls.prefix),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def write(cls, name, data):
        path = os.path.join(cls.dir, "files", *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return win_path(path)

    @classmethod
    def import_reg(cls, keys):
        """Imports {key: [value lines]} (a key of "-KEY" deletes it) with the 64-bit regedit, which
        writes HKLM\\Software\\... to the native view and ...\\Wow6432Node\\... to the 32-bit one."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, values in keys:
            lines.append("[%s]" % key)
            lines.extend(values)
            lines.append("")
        path = os.path.join(cls.dir, "fixture.reg")
        with open(path, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        env = dict(os.environ, WINEPREFIX=cls.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run([WINE64, "regedit", "/S", win_path(path)], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=True)

    @classmethod
    def fixture_keys(cls):
        f = cls.files
        hklm, ccs = "HKEY_LOCAL_MACHINE", r"HKEY_LOCAL_MACHINE\System\CurrentControlSet"
        wow = hklm + r"\Software\Wow6432Node"
        run_key = r"Software\Microsoft\Windows\CurrentVersion\Run"
        return [
            # Logon: a quoted path with arguments, a file the PE filter turns away, values skipped
            (hklm + "\\" + run_key, ["%s=%s" % (reg_text("App"), reg_text('"%s" -autostart' % f["run dir/native.exe"])),
                                    "%s=%s" % (reg_text("NotPe"), reg_text(f["notpe.exe"])),
                                    '"Number"=dword:00000001', "@=" + reg_text(f["wrong.dll"])]),
            (wow + "\\" + run_key[len("Software\\"):], ["%s=%s" % (reg_text("App32"), reg_text(f["run32.exe"]))]),
            ("HKEY_CURRENT_USER\\" + run_key, ["%s=%s" % (reg_text("User"), reg_text(f["userrun.exe"]))]),
            # Only the interactive user's profile is examined
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\S-1-5-18",
             ['"ProfileImagePath"=' + reg_text(r"C:\windows\system32\config\systemprofile")]),
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList\\" + UNMAPPED_SID,
             ['"ProfileImagePath"=' + reg_text(r"C:\users\nobody")]),
            (r"HKEY_USERS\S-1-5-18\\" + run_key, ['"SystemRun"=' + reg_text(f["sysrun.exe"])]),
            # Explorer: a context-menu handler whose class has no name is reported
            (hklm + r"\Software\Classes\*\ShellEx\ContextMenuHandlers\Nameless", ["@=" + reg_text(CLSID_MENU)]),
            (hklm + r"\Software\Classes\CLSID\%s\InprocServer32" % CLSID_MENU, ["@=" + reg_text(f["ctx.dll"])]),
            # IE: a helper object needs a class name; a 32-bit one resolves in the 32-bit view
            (hklm + "\\" + BHO + "\\" + CLSID_NAMED, []),
            (hklm + "\\" + BHO + "\\" + CLSID_NAMELESS, []),
            (hklm + r"\Software\Classes\CLSID\%s" % CLSID_NAMED, ["@=" + reg_text("Vtg helper")]),
            (hklm + r"\Software\Classes\CLSID\%s\InprocServer32" % CLSID_NAMED, ["@=" + reg_text(f["bho.dll"])]),
            (hklm + r"\Software\Classes\CLSID\%s\InprocServer32" % CLSID_NAMELESS, ["@=" + reg_text(f["bhononame.dll"])]),
            (wow + "\\" + BHO[len("Software\\"):] + "\\" + CLSID_32, []),
            (hklm + r"\Software\Classes\CLSID\%s" % CLSID_32, ["@=" + reg_text("Native class")]),
            (hklm + r"\Software\Classes\CLSID\%s\InprocServer32" % CLSID_32, ["@=" + reg_text(f["wrong.dll"])]),
            (wow + r"\Classes\CLSID\%s" % CLSID_32, ["@=" + reg_text("Vtg helper 32")]),
            (wow + r"\Classes\CLSID\%s\InprocServer32" % CLSID_32, ["@=" + reg_text(f["bho32.dll"])]),
            # Services and drivers, read through CurrentControlSet (the prefix has no ControlSet001)
            (ccs + r"\Services\VtgService", ['"Start"=dword:00000003', '"Type"=dword:00000010',
                                              '"ImagePath"=' + reg_text(f["svc.exe"] + " -run")]),
            (ccs + r"\Services\VtgShared", ['"Start"=dword:00000003', '"Type"=dword:00000020',
                                             '"ImagePath"=' + reg_text("svchost.exe -k vtg")]),
            (ccs + r"\Services\VtgShared\Parameters", ['"ServiceDll"=' + reg_text(f["shared.dll"])]),
            (ccs + r"\Services\VtgDriver", ['"Start"=dword:00000003', '"Type"=dword:00000001',
                                             '"ImagePath"=' + reg_text("\\??\\" + f["drv.sys"])]),
            # Image hijacks, Appinit, KnownDLLs, print monitors, LSA, network providers, codecs
            (hklm + r"\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options\vtg.exe",
             ['"Debugger"=' + reg_text(f["dbg.exe"])]),
            (hklm + r"\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Windows",
             ['"Appinit_Dlls"=' + reg_text("%s,%s %s" % (f["a.dll"], f["b.dll"], f["c.dll"]))]),
            (ccs + r"\Control\Session Manager\KnownDlls", ['"vtgknown"=' + reg_text("vtgknown.dll")]),
            (ccs + r"\Control\Print\Monitors\Vtg Monitor", ['"Driver"=' + reg_text(f["mon.dll"])]),
            (ccs + r"\Control\Lsa", ['"Notification Packages"=' + reg_multi([f["notify.dll"][:-4]])]),
            (hklm + r"\SOFTWARE\Microsoft\netsh", ['"vtg"=' + reg_text(f["netsh.dll"])]),
            (wow + r"\Microsoft\netsh", ['"vtg32"=' + reg_text(f["netsh32.dll"])]),
            (hklm + r"\Software\Microsoft\Windows NT\CurrentVersion\Drivers32", ['"vidc.vtg"=' + reg_text(f["codec.dll"])]),
        ]

    def scan(self, name):
        out = os.path.join(self.dir, name + ".xml")
        status = os.path.join(self.dir, name + ".txt")
        result = run(["--scope=autoruns", "--output=" + win_path(out), "--status=" + win_path(status)] + OFFLINE,
                     env=self.env)
        return result, out, status

    def test_catalogue(self):
        result, out, status = self.scan("catalogue")
        self.assertEqual(0, result.exit_code, result.stdout)
        self.assertEqual(7, state_fields(status)["Phase"])
        report = parse_report(out)
        ids = {m.get("Path").lower(): int(m.get("Id")) for m in report.iter("Module") if m.get("Path")}
        autoruns = [(a.get("Scope"), a.get("Where"), int(a.get("ModuleRefId"))) for a in report.iter("Autorun")]
        f = self.files
        known = r"C:\windows\system32\vtgknown.dll"
        expected = [
            ("Logon", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run", f["run dir/native.exe"]),
            ("Logon", r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run", f["run32.exe"]),
            ("Logon", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run", f["userrun.exe"]),
            ("Explorer", r"HKLM\Software\Classes\*\ShellEx\ContextMenuHandlers", f["ctx.dll"]),
            ("IE", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects", f["bho.dll"]),
            ("IE", r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Explorer\Browser Helper Objects",
             f["bho32.dll"]),
            ("Services", r"HKLM\System\CurrentControlSet\Services", f["svc.exe"]),
            ("Services", r"HKLM\System\CurrentControlSet\Services", f["shared.dll"]),
            ("Drivers", r"HKLM\System\CurrentControlSet\Services", f["drv.sys"]),
            ("Imagehijacks", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options",
             f["dbg.exe"]),
            ("Appinit", r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Windows\Appinit_Dlls", f["a.dll"]),
            ("Appinit", r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Windows\Appinit_Dlls", f["b.dll"]),
            ("Appinit", r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Windows\Appinit_Dlls", f["c.dll"]),
            ("KnownDLLs", r"HKLM\System\CurrentControlSet\Control\Session Manager\KnownDlls", known),
            ("Printmon", r"HKLM\System\CurrentControlSet\Control\Print\Monitors", f["mon.dll"]),
            ("LsaProviders", r"HKLM\SYSTEM\CurrentControlSet\Control\Lsa\Notification Packages", f["notify.dll"]),
            ("NetworkProviders", r"HKLM\SOFTWARE\Microsoft\netsh", f["netsh.dll"]),
            ("NetworkProviders", r"HKLM\SOFTWARE\Wow6432Node\Microsoft\netsh", f["netsh32.dll"]),
            ("Codecs", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32", f["codec.dll"]),
        ]
        for scope, where, path in expected:
            with self.subTest(where=where, path=path):
                self.assertIn(path.lower(), ids)
                self.assertIn((scope, where, ids[path.lower()]), autoruns)
        # Each entry once: a native location is not read again as its own 32-bit view.
        for name in ["run dir/native.exe", "run32.exe", "bho32.dll", "netsh.dll"]:
            with self.subTest(once=name):
                self.assertEqual(1, sum(1 for a in autoruns if a[2] == ids[f[name].lower()]))
        # Turned away by the PE filter: the entry stays, without a module.
        self.assertIn(("Logon", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run", 0), autoruns)
        self.assertNotIn(f["notpe.exe"].lower(), ids)
        # A helper object whose class has no name, a default value, another user's profile and
        # the native class of a 32-bit id give nothing.
        for name in ["bhononame.dll", "wrong.dll", "sysrun.exe"]:
            with self.subTest(absent=name):
                self.assertNotIn(f[name].lower(), ids)
        # The prefix's own entries: Wine's services and drivers (it has no KnownDlls key).
        ours = {ids[p.lower()] for p in f.values() if p.lower() in ids}
        for scope in ["Services", "Drivers"]:
            with self.subTest(wine=scope):
                self.assertTrue(any(a[0] == scope and a[2] not in ours and a[2] != 0 for a in autoruns))

    def test_zz_no_profile_fails_the_run(self):
        self.import_reg([(r"-HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList", [])])
        result, out, status = self.scan("noprofile")
        self.assertEqual(0x80004005, result.exit_code, result.stdout)
        fields = state_fields(status)
        self.assertEqual(8, fields["Phase"])
        self.assertEqual("Error 0x80004005", fields["ErrorText"])
        self.assertFalse(os.path.exists(out))


class StartupFolderAndSidebar(unittest.TestCase):
    """Startup folders, sidebar gadgets and Task Scheduler 1.0 work items in a fresh prefix."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="vantorag_filesources_")
        cls.prefix = os.path.join(cls.dir, "prefix")
        cls.env = {"WINE_TEST_PREFIX": cls.prefix, "WINE_TEST_PREFIX64": cls.prefix}
        cls.wine(["cmd", "/c", "exit", "0"])
        cls.startup = os.path.join(cls.dir, "Startup")
        os.makedirs(os.path.join(cls.startup, "Extra"))
        with open(os.path.join(cls.startup, "desktop.ini"), "wb") as f:
            f.write(b"[.ShellClassInfo]\r\n")
        cls.app = cls.write("tools/app.exe")
        cls.gadget = cls.write("gadgets/My Gadget/clock.exe")
        cls.fixture(["shortcut", win_path(os.path.join(cls.startup, "app.lnk")), cls.app])
        cls.tasker = cls.write("tools/tasker.exe")
        cls.fixture(["task", "vantorag e2e plain", cls.tasker, "/now"])
        cls.fixture(["task", "vantorag e2e dll", r"C:\windows\system32\rundll32.exe", "shell32.dll,Control_RunDLL"])
        local = [d for d in glob.glob(os.path.join(cls.prefix, "drive_c", "users", "*", "AppData", "Local"))
                 if os.sep + "Public" + os.sep not in d]
        sidebar = os.path.join(local[0], "Microsoft", "Windows Sidebar")
        os.makedirs(sidebar, exist_ok=True)
        encoded = cls.gadget.replace("%", "%25").replace("\\", "%5C").replace(" ", "%20")
        with open(os.path.join(sidebar, "Settings.ini"), "wb") as f:
            f.write(("[Root]\r\nSection0=3\r\n[Section 3]\r\nPrivateSetting_GadgetName=%s\r\n" % encoded).encode())
        cls.startup_where = win_path(cls.startup)
        cls.import_reg([(r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders",
                         ['"Startup"=' + reg_text(cls.startup_where)])])

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=cls.prefix),
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def wine(cls, args):
        return subprocess.run([EMULATOR] + args, env=dict(os.environ, **cls.env), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300).returncode

    @classmethod
    def fixture(cls, args):
        helper = os.path.join(BUILD, "tests", "e2e", "e2e_autorun_fixture.exe")
        if cls.wine([helper] + args) != 0:
            raise AssertionError("fixture helper failed: %r" % args)

    @classmethod
    def write(cls, name):
        path = os.path.join(cls.dir, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(small_pe(128))
        return win_path(path)

    import_reg = AutorunCatalogue.__dict__["import_reg"]  # the same import, into this class's prefix

    def scan(self, name):
        out = os.path.join(self.dir, name + ".xml")
        status = os.path.join(self.dir, name + ".txt")
        result = run(["--scope=autoruns", "--output=" + win_path(out), "--status=" + win_path(status)] + OFFLINE,
                     env=self.env)
        self.assertEqual(0, result.exit_code, result.stdout)
        report = parse_report(out)
        paths = {int(m.get("Id")): m.get("Path").lower() for m in report.iter("Module") if m.get("Path")}
        return [(a.get("Scope"), a.get("Where"), paths.get(int(a.get("ModuleRefId")), ""))
                for a in report.iter("Autorun")]

    def test_startup_folder_and_sidebar(self):
        autoruns = self.scan("current")
        startup = [a for a in autoruns if a[1] == self.startup_where]
        # The shortcut's target and the subfolder (not a module to scan); desktop.ini is skipped.
        self.assertEqual(2, len(startup), startup)
        self.assertIn(("Logon", self.startup_where, self.app.lower()), startup)
        gadgets = [a for a in autoruns if a[0] == "Sidebar"]
        self.assertEqual(1, len(gadgets), autoruns)
        self.assertTrue(gadgets[0][1].lower().endswith(r"\appdata\local\microsoft\windows sidebar\settings.ini"))
        self.assertEqual(self.gadget.lower(), gadgets[0][2])

    def test_xp_lists_work_items_and_no_gadgets(self):
        # Told it runs on XP, the program reads Task Scheduler 1.0, where rundll32 stands for the
        # DLL it loads, and has no sidebar.
        xp = r"HKEY_CURRENT_USER\Software\Wine\AppDefaults\%s" % EXE
        self.import_reg([(xp, ['"Version"="winxp"'])])
        try:
            autoruns = self.scan("xp")
        finally:
            self.import_reg([("-" + xp, [])])
        tasks = [a for a in autoruns if a[0] == "TaskScheduler"]
        self.assertEqual({("TaskScheduler", "Task Scheduler", self.tasker.lower()),
                          ("TaskScheduler", "Task Scheduler", r"c:\windows\system32\shell32.dll")}, set(tasks))
        self.assertEqual([], [a for a in autoruns if a[0] == "Sidebar"])
        self.assertIn(("Logon", self.startup_where, self.app.lower()), autoruns)


if __name__ == "__main__":
    unittest.main()
