"""Runs the real vantorag.exe under Wine for end-to-end tests and reads its real outputs.

The program is started through the launcher, which prints its full 32-bit exit code (the Linux
shell would see only the low byte). Each suite named by VANTORAG_E2E_SUITE gets a Wine prefix of
its own beside the harness's, so its named objects and services meet no other suite's and suites
can run side by side; its wineserver is stopped when the suite ends."""
import atexit
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

BUILD = os.environ.get("VANTORAG_BUILD", "")
EMULATOR = os.environ.get("VANTORAG_EMULATOR", "")
EXE = os.environ.get("VANTORAG_EXE", "vantorag.exe")
STOP_EVENT = "vantor58CB9DDC03674C47856D7D26CCF4F995"
# Both lookup channels off: a scan that needs no lookup service and waits for none.
OFFLINE = ["--flsUdp=off", "--flsTcp=off"]


def _own_prefix(suite):
    """Points both emulators at `<harness prefix>-<suite>`, made on first use."""
    if "wine64" in os.path.basename(EMULATOR):
        base = os.environ.get("WINE_TEST_PREFIX64") or os.environ.get("WINE_TEST_PREFIX", "/tmp/vantorag-wine") + "64"
    else:
        base = os.environ.get("WINE_TEST_PREFIX", "/tmp/vantorag-wine")
    prefix = base + "-" + suite
    os.environ["WINE_TEST_PREFIX"] = os.environ["WINE_TEST_PREFIX64"] = prefix
    atexit.register(subprocess.run, ["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


if os.environ.get("VANTORAG_E2E_SUITE"):
    _own_prefix(os.environ["VANTORAG_E2E_SUITE"])


def win_path(path):
    """The Windows form of a Linux path (Wine maps / to Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Result:
    def __init__(self, exit_code, event, stdout):
        self.exit_code = exit_code
        self.event = event
        self.stdout = stdout


def run(args, env=None, event=False, cwd=None, timeout=600):
    """Runs vantorag.exe with `args` (a list of strings); returns its exit code and stdout."""
    launcher = os.path.join(BUILD, "tools", "launcher", "launcher.exe")
    exe = win_path(os.path.join(BUILD, EXE))
    cmd = [EMULATOR, launcher] + (["--event", STOP_EVENT] if event else []) + ["--", exe] + list(args)
    full_env = dict(os.environ)
    full_env.update(env or {})
    out = subprocess.run(cmd, env=full_env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, timeout=timeout).stdout.decode("utf-8", "replace")
    code = re.search(r"exit=0x([0-9A-F]{8})", out)
    if not code:
        raise AssertionError("launcher printed no exit code:\n" + out)
    ev = re.search(r"event=(\d)", out)
    return Result(int(code.group(1), 16), ev and int(ev.group(1)), out[:code.start()])


def parse_report(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"\xff\xfe", "report does not start with FF FE: %r" % data[:4]
    return ET.fromstring(data.decode("utf-16"))


SIGNED = os.path.join(BUILD, "tests", "analysis", "signed")
LOOKUPD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "lookup_server", "lookupd.py")


def trust_signed_fixtures():
    """Puts the signed fixtures' test CA into the prefix's machine Root store; None or the failure."""
    trust = subprocess.run([EMULATOR, os.path.join(BUILD, "tests", "e2e", "e2e_trust_root.exe"),
                            win_path(os.path.join(SIGNED, "ca.der"))], stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return None if trust.returncode == 0 else "e2e_trust_root exited %d: %s" % (trust.returncode, trust.stdout)


class LookupServer:
    """The reference lookup server, run from its command line on a store in `folder`."""

    def __init__(self, folder):
        self.folder = folder
        self.store = os.path.join(folder, "store.sqlite")
        self.process = None

    def command(self, *args):
        """Runs one lookupd command on the store; its standard output."""
        return subprocess.run([sys.executable, LOOKUPD, "--store", self.store] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, check=True).stdout

    def start(self, *serve_args):
        """Serves the store on UDP and TCP ports the system picks; returns (udp, tcp)."""
        ready = os.path.join(self.folder, "ready")
        self.process = subprocess.Popen([sys.executable, LOOKUPD, "--store", self.store, "serve", "--udp-port", "0",
                                         "--tcp-ports", "0", "--ready-file", ready] + list(serve_args),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        for _ in range(200):
            if os.path.exists(ready):
                with open(ready) as f:
                    udp, tcp = f.read().split()
                return int(udp), int(tcp)
            if self.process.poll() is not None:
                raise AssertionError("lookupd exited: " + self.process.stderr.read().decode())
            time.sleep(0.05)
        raise AssertionError("lookupd did not start")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


def read_state(path):
    """The state file's line (UTF-16LE, no mark, one NUL code unit at the end)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        raise AssertionError("state file starts with a byte-order mark")
    if len(data) < 2 or data[-2:] != b"\0\0":
        raise AssertionError("state file does not end with one NUL code unit: %r" % data[-4:])
    text = data[:-2].decode("utf-16-le")
    if "\0" in text or "\n" in text or "\r" in text:
        raise AssertionError("state file holds more than one line: %r" % text)
    return text


def state_fields(path):
    fields = read_state(path).split(";")
    names = ["Phase", "FilesFound", "BytesFound", "FilesProcessed", "BytesProcessed", "CountUnknown",
             "CountDoesntExist", "CountError", "HashFailures", "CountSafe", "CountMalware", "Skipped",
             "CountServerError", "ErrorText"]
    if len(fields) != len(names):
        raise AssertionError("state line has %d fields: %r" % (len(fields), fields))
    values = dict(zip(names, fields))
    for name in names[:-1]:
        values[name] = int(values[name])
    return values


class TempDirTest(unittest.TestCase):
    """A test with a private folder under /tmp (reachable from Wine as Z:)."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vantorag_e2e_")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def wpath(self, *parts):
        return win_path(self.path(*parts))
