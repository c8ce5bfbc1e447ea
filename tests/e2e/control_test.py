"""End to end: the command line's modes and exit codes, the state file and the stop request."""
import os
import unittest

from vantorag_e2e import OFFLINE, TempDirTest, run, state_fields, read_state

E_INVALIDARG = 0x80070057


class ExitCodes(TempDirTest):
    def test_modes_and_rejections(self):
        out, status = self.wpath("r.xml"), self.wpath("s.txt")
        cases = [
            ("no options", [], E_INVALIDARG),
            ("scan without --status", ["--output=" + out, "--scope=processes"], E_INVALIDARG),
            ("scan without --output", ["--status=" + status, "--scope=processes"], E_INVALIDARG),
            ("second mode option", ["--service", "--sendStop"], E_INVALIDARG),
            ("unregService after service", ["--service", "--unregService"], E_INVALIDARG),
            ("empty scope", ["--scope=", "--output=" + out, "--status=" + status], E_INVALIDARG),
            ("blank scope tokens", ["--scope= | |", "--output=" + out, "--status=" + status], E_INVALIDARG),
            ("required value eats the next option", ["--output", "--status=" + status, "--scope=processes"],
             E_INVALIDARG),
            ("send stop without a scan", ["--sendStop"], 0),
        ]
        for name, args, code in cases:
            with self.subTest(name):
                self.assertEqual(code, run(args).exit_code)
        self.assertFalse(os.path.exists(self.path("s.txt")), "a rejected run wrote a state file")

    def test_posixly_correct_stops_at_first_non_option(self):
        args = ["report", "--output=" + self.wpath("r.xml"), "--status=" + self.wpath("s.txt"),
                "--scope=processes"]
        self.assertEqual(E_INVALIDARG, run(args, env={"POSIXLY_CORRECT": "1"}).exit_code)
        self.assertEqual(0, run(args).exit_code)


class StateFile(TempDirTest):
    def test_finished_run(self):
        status = self.path("s.txt")
        result = run(["--output=" + self.wpath("r.xml"), "--status=" + self.wpath("s.txt"), "--scope=processes"] + OFFLINE)
        self.assertEqual(0, result.exit_code)
        fields = state_fields(status)
        self.assertEqual(7, fields["Phase"])
        self.assertEqual("", fields["ErrorText"])
        self.assertTrue(read_state(status).endswith(";"))

    def test_exact_bytes_of_an_empty_scan(self):
        os.mkdir(self.path("empty"))
        result = run(["--output=" + self.wpath("r.xml"), "--status=" + self.wpath("s.txt"),
                      "--scope=" + self.wpath("empty")] + OFFLINE)
        self.assertEqual(0, result.exit_code)
        with open(self.path("s.txt"), "rb") as f:
            self.assertEqual("7;0;0;0;0;0;0;0;0;0;0;0;0;".encode("utf-16-le") + b"\0\0", f.read())


class StopRequest(TempDirTest):
    def test_send_stop_sets_the_named_event(self):
        result = run(["--sendStop"], event=True)
        self.assertEqual(0, result.exit_code)
        self.assertEqual(1, result.event)

    def test_scan_does_not_set_the_event(self):
        result = run(["--output=" + self.wpath("r.xml"), "--status=" + self.wpath("s.txt"), "--scope=processes"] + OFFLINE,
                     event=True)
        self.assertEqual(0, result.exit_code)
        self.assertEqual(0, result.event)


if __name__ == "__main__":
    unittest.main()
