"""End to end: scans against the reference lookup server, started from its command line with a
store of the fixture files' hashes, read back from the report, the state file, the statistics
file and the server's own sightings."""
import hashlib
import ntpath
import os
import subprocess
import sys
import time
import unittest
import xml.etree.ElementTree as ET

from vantorag_e2e import TempDirTest, run, state_fields

LOOKUPD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "lookup_server", "lookupd.py")
STAT_HEADER = "Computer;IsoTimestamp;UdpSent;UdpReceived;TcpSent;TcpReceived"


def pe(fill, size=200):
    return b"MZ" + bytes(62) + fill * (size - 64)


FILES = {"fx/safe.exe": pe(b"S"), "fx/bad.dll": pe(b"B"), "fx/new.exe": pe(b"N"), "fx/odd.exe": pe(b"O")}
STORE_CSV = "sha1,verdict,lumen,date\n%s,safe,2,\n%s,malware,3,2022-02-16T00:47:54Z\n%s,unknown,,\n" % (
    hashlib.sha1(FILES["fx/safe.exe"]).hexdigest(), hashlib.sha1(FILES["fx/bad.dll"]).hexdigest(),
    hashlib.sha1(FILES["fx/odd.exe"]).hexdigest())


class LookupServerScan(TempDirTest):
    def lookupd(self, *args):
        return subprocess.run([sys.executable, LOOKUPD, "--store", self.path("store.sqlite")] + list(args),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, check=True).stdout

    def start_server(self):
        """Serves the store on ports the system picks; returns (udp, tcp)."""
        ready = self.path("ready")
        self.server = subprocess.Popen([sys.executable, LOOKUPD, "--store", self.path("store.sqlite"), "serve",
                                        "--udp-port", "0", "--tcp-ports", "0", "--ready-file", ready],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(self.stop_server)
        for _ in range(200):
            if os.path.exists(ready):
                udp, tcp = open(ready).read().split()
                return int(udp), int(tcp)
            if self.server.poll() is not None:
                self.fail("lookupd exited: " + self.server.stderr.read().decode())
            time.sleep(0.05)
        self.fail("lookupd did not start")

    def stop_server(self):
        if self.server.poll() is None:
            self.server.terminate()
            self.server.wait(10)

    def make_fixture(self):
        for name, data in FILES.items():
            os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
            with open(self.path(name), "wb") as f:
                f.write(data)
        with open(self.path("store.csv"), "w") as f:
            f.write(STORE_CSV)
        self.lookupd("import-csv", self.path("store.csv"))

    def scan(self, *extra):
        result = run(["--scope=" + self.wpath("fx"), "--output=" + self.wpath("r.xml"),
                      "--status=" + self.wpath("s.txt")] + list(extra))
        self.assertEqual(0, result.exit_code, result.stdout)
        with open(self.path("r.xml"), "rb") as f:
            report = ET.fromstring(f.read())
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
        udp, tcp = self.start_server()
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
        self.stop_server()
        unknown = self.lookupd("unknown").splitlines()
        self.assertEqual(2, len(unknown))
        self.assertTrue(unknown[1].startswith(hashlib.sha1(FILES["fx/new.exe"]).hexdigest().upper() + ";1;1;"))

    def test_tcp_alone(self):
        self.make_fixture()
        udp, tcp = self.start_server()
        modules, state = self.scan("--flsUdp=off", "--flsTcpPort=%d" % tcp, "--flsStat=" + self.wpath("stat.csv"))
        self.assertEqual("malware", modules["bad.dll"].get("Cloud"))
        self.assertEqual(1, state["CountMalware"])
        self.assertEqual([0, 0, 1, 1], self.read_stat())

    def test_no_server_marks_files_error_and_finishes(self):
        self.make_fixture()
        udp, tcp = self.start_server()
        self.stop_server()  # its ports are free again: nothing answers there
        started = time.time()
        modules, state = self.scan("--flsUdpPort=%d" % udp, "--flsTcpPort=%d" % tcp)
        # One batch: two attempts that each wait their 5 seconds.
        self.assertGreater(time.time() - started, 9)
        self.assertEqual({"error"}, {m.get("Cloud") for m in modules.values()})
        self.assertEqual(4, state["CountError"])
        self.assertFalse(os.path.exists(self.path("stat.csv")))  # no --flsStat, no file


if __name__ == "__main__":
    unittest.main()
