"""End to end: the service "vantorag" registered by the real program, started, paused, continued and
stopped through the service manager (by a small controller program, since Wine's sc can neither
pause nor continue), and removed again. Every test leaves no service behind."""
import os
import re
import subprocess
import time
import unittest

from vantorag_e2e import BUILD, EMULATOR, EXE, OFFLINE, TempDirTest, run, state_fields, win_path

NAME = "vantorag"
CONTROLLER = os.path.join(BUILD, "tests", "e2e", "service_controller.exe")
DEFAULT_FILTER = "*.exe|*.dll|*.sys|*.ocx|*.vbs|*.pif|*.hta|*.htr|*.bat|*.cmd|*.jar|*.java|*.scr|*.class|*.msi"
E_INVALIDARG = 0x80070057
ERROR_SERVICE_SPECIFIC_ERROR = 1066
STOPPED, RUNNING, PAUSED = 1, 4, 7
# Enough files that the lookup phase lasts seconds under Wine, long enough to pause it.
LONG_SCAN_FILES = 8000


def controller(*args):
    """Runs the controller; returns its key=value lines as a dict (and "rc")."""
    done = subprocess.run([EMULATOR, CONTROLLER] + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=300)
    out = done.stdout.decode("utf-8", "replace").replace("\r", "")
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    values["rc"] = done.returncode
    return values


def quote(value):
    """A value quoted as the program writes it into the service command line."""
    out, slashes = '"', 0
    for c in value:
        if c == "\\":
            slashes += 1
            continue
        out += "\\" * (slashes * 2 + 1 if c == '"' else slashes) + c
        slashes = 0
    return out + "\\" * (slashes * 2) + '"'


def split_command_line(line):
    """The arguments a Windows program reads from a command line (2n backslashes + quote rules)."""
    args, i, n = [], 0, len(line)
    while i < n:
        while i < n and line[i] in " \t":
            i += 1
        if i >= n:
            break
        arg, quoted = "", False
        while i < n and (quoted or line[i] not in " \t"):
            slashes = 0
            while i < n and line[i] == "\\":
                slashes += 1
                i += 1
            if i < n and line[i] == '"':
                arg += "\\" * (slashes // 2)
                if slashes % 2:
                    arg += '"'
                else:
                    quoted = not quoted
                i += 1
            else:
                arg += "\\" * slashes
                if i < n and (quoted or line[i] not in " \t"):
                    arg += line[i]
                    i += 1
        args.append(arg)
    return args


def small_pe(size, fill=b"\0"):
    body = b"MZ" + bytes(62)
    return body + (fill * max(0, size - len(body)))


class ServiceTest(TempDirTest):
    def setUp(self):
        super().setUp()
        controller("remove", NAME)

    def tearDown(self):
        removed = controller("remove", NAME)
        self.assertIn(removed.get("removed"), ("0", "1"), removed)
        super().tearDown()

    def make_files(self, folder, count, size=200):
        os.makedirs(self.path(folder), exist_ok=True)
        for i in range(count):
            with open(self.path(folder, "f%05d.exe" % i), "wb") as f:
                f.write(small_pe(size, bytes([i % 251 + 1])))

    def register(self, *options):
        result = run(["--regService"] + list(options))
        self.assertEqual(0, result.exit_code, result.stdout)

    def expected_line(self, options_text):
        return '"%s" --service%s' % (win_path(os.path.join(BUILD, EXE)), options_text)

    def state(self, name="s.txt"):
        try:
            return state_fields(self.path(name))
        except (OSError, AssertionError):
            return None

    def wait_for_phase(self, phase, name="s.txt", timeout=120):
        deadline = time.time() + timeout
        while time.time() < deadline:
            fields = self.state(name)
            if fields and fields["Phase"] == phase:
                return fields
            time.sleep(0.05)
        self.fail("state file never showed phase %d: %r" % (phase, self.state(name)))

    def wait_for_service(self, state, timeout_ms=120000):
        status = controller("wait", NAME, str(state), str(timeout_ms))
        self.assertEqual("1", status.get("reached"), status)
        return status

    def scan_options(self, scope, status="s.txt", output="r.xml", *more):
        return ["--scope=" + scope, "--status=" + self.wpath(status), "--output=" + self.wpath(output)] + list(more)


class Registration(ServiceTest):
    def test_identity_command_line_and_removal(self):
        os.mkdir(self.path("fx"))
        scope = self.wpath("fx") + "\\"  # a trailing backslash must not swallow the closing quote
        self.register("--errors", "--filter=", "--flsUdpPort=4447", *self.scan_options(scope))
        config = controller("config", NAME)
        self.assertEqual("16", config["type"])
        self.assertEqual("3", config["start"])
        self.assertEqual("1", config["errorcontrol"])
        self.assertEqual(NAME, config["display"])
        self.assertEqual("LocalSystem", config["account"])
        self.assertEqual("RPCSS", config.get("depends") or config.get("depends_registry"))
        self.assertEqual(self.expected_line(
            " --errors --scope %s --status %s --output %s --impersonate=\"off\" --scanPeOnly=\"on\" "
            "--flsTcp=\"on\" --flsUdp=\"on\" --flsTcpPort \"4442\" --flsUdpPort \"4447\""
            % (quote(scope), quote(self.wpath("s.txt")), quote(self.wpath("r.xml")))), config["path"])

        self.assertEqual(0, run(["--unregService"]).exit_code)
        self.assertEqual("1060", controller("query", NAME).get("error"))
        self.assertEqual(0, run(["--unregService"]).exit_code)

    def test_without_status_the_service_does_not_start(self):
        os.mkdir(self.path("fx"))
        self.register("--scope=" + self.wpath("fx"), "--output=" + self.wpath("r.xml"))
        self.assertIn("error", controller("start", NAME))
        self.assertEqual(STOPPED, int(controller("query", NAME)["state"]))
        # The registered command line itself ends with E_INVALIDARG before any dispatcher.
        args = split_command_line(controller("config", NAME)["path"])
        self.assertEqual("--service", args[1])
        self.assertEqual(E_INVALIDARG, run(args[1:]).exit_code)
        self.assertFalse(os.path.exists(self.path("r.xml")))


class ServiceRun(ServiceTest):
    def test_runs_exactly_the_registered_scan(self):
        self.make_files("fx", 3)
        self.register(*self.scan_options(self.wpath("fx") + "\\"))
        self.assertEqual("1", controller("start", NAME).get("started"), "start failed")
        status = self.wait_for_service(STOPPED)
        self.assertEqual("0", status["exit"])
        fields = self.state()
        self.assertEqual(7, fields["Phase"])
        self.assertEqual(3, fields["FilesFound"])
        self.assertTrue(os.path.exists(self.path("r.xml")))

    def test_failed_run_reports_its_hresult_as_a_service_specific_error(self):
        self.make_files("fx", 1)
        self.register("--scope=" + self.wpath("fx"), "--status=" + self.wpath("s.txt"),
                      "--output=" + self.wpath("missing", "r.xml"))
        controller("start", NAME)
        status = self.wait_for_service(STOPPED)
        fields = self.state()
        self.assertEqual(8, fields["Phase"])
        self.assertEqual(str(ERROR_SERVICE_SPECIFIC_ERROR), status["exit"])
        self.assertEqual("Error " + status["specific"].lower(), fields["ErrorText"])

    def test_pause_and_continue_during_a_long_scan(self):
        self.make_files("big", LONG_SCAN_FILES)
        self.register(*self.scan_options(self.wpath("big"), "s.txt", "r.xml", *OFFLINE))
        controller("start", NAME)
        self.wait_for_phase(5)
        self.assertEqual(0, controller("control", NAME, "pause")["rc"], "control failed")
        self.wait_for_service(PAUSED, 60000)
        paused = self.wait_for_phase(10)
        time.sleep(2)
        self.assertEqual(PAUSED, int(controller("query", NAME)["state"]))
        self.assertEqual(paused, self.state(), "the state changed while paused")

        self.assertEqual(0, controller("control", NAME, "continue")["rc"], "control failed")
        self.wait_for_service(RUNNING, 60000)
        self.wait_for_phase(5, timeout=30)
        status = self.wait_for_service(STOPPED, 300000)
        self.assertEqual("0", status["exit"])
        fields = self.state()
        self.assertEqual(7, fields["Phase"])
        self.assertEqual(LONG_SCAN_FILES, fields["FilesProcessed"])
        self.assertTrue(os.path.exists(self.path("r.xml")))

    def test_pause_in_the_lookup_phase_then_stop(self):
        self.make_files("big", LONG_SCAN_FILES)
        self.register(*self.scan_options(self.wpath("big"), "s.txt", "r.xml", *OFFLINE))
        controller("start", NAME)
        self.wait_for_phase(5)
        controller("control", NAME, "pause")
        self.wait_for_service(PAUSED, 60000)
        self.assertEqual(0, controller("control", NAME, "stop")["rc"], "control failed")
        status = self.wait_for_service(STOPPED, 60000)
        self.assertEqual("0", status["exit"])
        self.assertEqual(9, self.state()["Phase"])
        self.assertFalse(os.path.exists(self.path("r.xml")))

    def test_register_again_while_running_replaces_it(self):
        self.make_files("big", LONG_SCAN_FILES)
        self.register(*self.scan_options(self.wpath("big"), "s1.txt", "r1.xml", *OFFLINE))
        controller("start", NAME)
        self.wait_for_phase(5, "s1.txt")
        os.mkdir(self.path("fx"))
        self.register("--flsTcp=off", *self.scan_options(self.wpath("fx"), "s2.txt", "r2.xml"))
        # The first service was stopped, without a report; the new one carries the new options.
        self.assertEqual(9, self.state("s1.txt")["Phase"])
        self.assertFalse(os.path.exists(self.path("r1.xml")))
        self.assertEqual(STOPPED, int(controller("query", NAME)["state"]))
        self.assertIn('--status %s' % quote(self.wpath("s2.txt")), controller("config", NAME)["path"])
        self.assertIn('--flsTcp="off"', controller("config", NAME)["path"])


if __name__ == "__main__":
    unittest.main()
