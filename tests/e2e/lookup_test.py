"""End to end: scans against the reference lookup server, started from its command line with a
store of the fixture files' hashes, read back from the report, the state file, the statistics
file and the server's own sightings."""
import hashlib
import ntpath
import os
import time
import unittest

from vantorag_e2e import LookupServer, TempDirTest, parse_report, run, state_fields

STAT_HEADER = "Computer;IsoTimestamp;UdpSent;UdpReceived;TcpSent;TcpReceived"


def pe(fill, size=200):
    return b"MZ" + bytes(62) + fill * (size - 64)


FILES = {"fx/safe.exe": pe(b"S"), "fx/bad.dll": pe(b"B"), "fx/new.exe": pe(b"N"), "fx/odd.exe": pe(b"O")}
STORE_CSV = "sha1,verdict,lumen,date\n%s,safe,2,\n%s,malware,3,2022-02-16T00:47:54Z\n%s,unknown,,\n" % (
    hashlib.sha1(FILES["fx/safe.exe"]).hexdigest(), hashlib.sha1(FILES["fx/bad.dll"]).hexdigest(),
    hashlib.sha1(FILES["fx/odd.exe"]).hexdigest())


class LookupServerScan(TempDirTest):
    def setUp(self):
        super().setUp()
        self.server = LookupServer(self.dir)
        self.addCleanup(self.server.stop)

    def make_fixture(self):
        for name, data in FILES.items():
            os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
            with open(self.path(name), "wb") as f:
                f.write(data)
        with open(self.path("store.csv"), "w") as f:
            f.write(STORE_CSV)
        self.server.command("import-csv", self.path("store.csv"))

    def scan(self, *extra):
        result = run(["--scope=" + self.wpath("fx"), "--output=" + self.wpath("r.xml"),
                      "--status=" + self.wpath("s.txt")] + list(extra))
        self.assertEqual(0, result.exit_code, result.stdout)
        report = parse_report(self.path("r.xml"))
        modules = {ntpath.basename(m.get("Path")): m for m in report.iter("Module") if m.get("Path")}
        return modules, state_fields(self.path("s.txt"))

    def read_stat(self):
        with open(self.path("stat.csv"), "rb") as f:
            data = f.read()
        self.assertFalse(data.startswith(b"\xef\xbb\xbf"))
        lines = data.decode("utf-8").split("\n")
        self.assertEqual([STAT_HEADER], lines[:1])
        self.assertEqual("", lines[2])  # LF-ended, two lines
        fields = lines[1].split(";")
        self.assertRegex(fields[1], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
        return [int(v) for v in fields[2:]]

    def test_verdicts_from_the_store(self):
        self.make_fixture()
        udp, tcp = self.server.start()
        modules, state = self.scan("--flsUdpPort=%d" % udp, "--flsTcpPort=%d" % tcp, "--flsStat=" + self.wpath("stat.csv"))
        expected = {  # file: (Cloud, CloudLumen, CloudDate)
            "safe.exe": ("safe", "Undetected", None),
            "bad.dll": ("malware", "Suspicious", "2022-02-16T00:47:54Z"),
            "new.exe": ("doesntexist", "Undefined", None),
            "odd.exe": ("unknown", "Undefined", None),
        }
        for name, (cloud, lumen, date) in expected.items():
            with self.subTest(name):
                m = modules[name]
                self.assertEqual(cloud, m.get("Cloud"))
                self.assertEqual(cloud, m.get("CloudFls"))
                self.assertEqual(lumen, m.get("CloudLumen"))
                self.assertEqual(date, m.get("CloudDate"))
        self.assertEqual((4, 1, 1, 1, 1, 0), (state["FilesProcessed"], state["CountSafe"], state["CountMalware"],
                                              state["CountDoesntExist"], state["CountUnknown"], state["CountError"]))
        # One pack of four hashes over UDP, answered; TCP never used.
        self.assertEqual([1, 1, 0, 0], self.read_stat())

        # The server saw every key; the one it does not know is listed.
        self.server.stop()
        unknown = self.server.command("unknown").splitlines()
        self.assertEqual(2, len(unknown))
        self.assertTrue(unknown[1].startswith(hashlib.sha1(FILES["fx/new.exe"]).hexdigest().upper() + ";1;1;"))

    def test_tcp_alone(self):
        self.make_fixture()
        udp, tcp = self.server.start()
        modules, state = self.scan("--flsUdp=off", "--flsTcpPort=%d" % tcp, "--flsStat=" + self.wpath("stat.csv"))
        self.assertEqual("malware", modules["bad.dll"].get("Cloud"))
        self.assertEqual(1, state["CountMalware"])
        self.assertEqual([0, 0, 1, 1], self.read_stat())

    def test_no_server_marks_files_error_and_finishes(self):
        self.make_fixture()
        udp, tcp = self.server.start()
        self.server.stop()  # its ports are free again: nothing answers there
        started = time.time()
        modules, state = self.scan("--flsUdpPort=%d" % udp, "--flsTcpPort=%d" % tcp)
        # One batch: two attempts that each wait their 5 seconds.
        self.assertGreater(time.time() - started, 9)
        self.assertEqual({"error"}, {m.get("Cloud") for m in modules.values()})
        self.assertEqual(4, state["CountError"])
        self.assertFalse(os.path.exists(self.path("stat.csv")))  # no --flsStat, no file


if __name__ == "__main__":
    unittest.main()
