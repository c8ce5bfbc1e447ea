"""End to end: the trusted and withdrawn vendor lists in real scans of signed files, against the
reference lookup server, whose request log shows what went on the wire: the lookups on UDP/TCP
and the withdrawn-list download on HTTP port 80 of the vendor-list host (localhost)."""
import hashlib
import http.server
import ntpath
import os
import shutil
import threading
import unittest

from vantorag_e2e import SIGNED, LookupServer, TempDirTest, parse_report, run, trust_signed_fixtures

SIGNER = "Vantorag Test Code Signer"
SECOND = "Vantorag Second Test Signer"
# Two files of the first signer that the service calls "unknown" and "malware", one of the second.
FILES = {"trusted_unknown.exe": "signed.exe", "trusted_malware.exe": "signed_twin.exe",
         "second.exe": "second_signer.exe"}
STORE_VERDICTS = {"trusted_unknown.exe": "unknown", "trusted_malware.exe": "malware", "second.exe": "unknown"}
LIST_PATH = "/av/tvl/deletedvendors.txt"


def vendor_key(name):
    return hashlib.sha1(name.encode("utf-8")).hexdigest().upper()


class NotFoundHost(http.server.HTTPServer):
    """A vendor-list host that answers every request 404, remembering the paths asked for."""

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.server.paths.append(self.path)
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def log_message(self, *args):
            pass

    def __init__(self):
        super().__init__(("127.0.0.1", 80), self.Handler)
        self.paths = []
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.shutdown()
        self.server_close()


class VendorLists(TempDirTest):
    @classmethod
    def setUpClass(cls):
        failure = trust_signed_fixtures()
        if failure:
            raise AssertionError(failure)

    def setUp(self):
        super().setUp()
        os.makedirs(self.path("fx"))
        hashes = ["sha1,verdict"]
        for name, source in FILES.items():
            shutil.copyfile(os.path.join(SIGNED, source), self.path("fx", name))
            with open(self.path("fx", name), "rb") as f:
                hashes.append("%s,%s" % (hashlib.sha1(f.read()).hexdigest(), STORE_VERDICTS[name]))
        self.write("hashes.csv", "\n".join(hashes) + "\n")
        self.write("withdrawn.txt", SECOND + "\n")
        # The first signer is unknown to the service: only a list can make it trusted.
        self.server = LookupServer(self.dir)
        self.server.command("import-csv", self.path("hashes.csv"))
        self.server.command("import-vendors", self.path("withdrawn.txt"), "--verdict", "withdrawn")
        self.addCleanup(self.server.stop)
        # Lists as a responder would keep them: UTF-16LE with its mark from a Windows editor, CR LF.
        self.write("trusted_first.txt", "\ufeff" + SIGNER + "\r\n", "utf-16-le")
        self.write("trusted_both.txt", "\ufeff" + SIGNER + "\r\n" + SECOND + "\r\n", "utf-16-le")
        self.write("removed.txt", SECOND + "\r\n")
        self.log_read = 0

    def write(self, name, text, encoding="utf-8"):
        with open(self.path(name), "w", encoding=encoding, newline="") as f:
            f.write(text)

    def start(self, *serve_args):
        self.ports = self.server.start("--request-log", self.path("requests.log"), *serve_args)

    def scan(self, *lists):
        """Scans the fixtures with the list options; returns {file: (Cloud, CloudSigner)} and the
        request-log lines of this scan, split into fields."""
        udp, tcp = self.ports
        result = run(["--scope=" + self.wpath("fx"), "--output=" + self.wpath("r.xml"),
                      "--status=" + self.wpath("s.txt"), "--flsUdpPort=%d" % udp, "--flsTcpPort=%d" % tcp]
                     + list(lists))
        self.assertEqual(0, result.exit_code, result.stdout)
        verdicts = {ntpath.basename(m.get("Path")): (m.get("Cloud"), m.get("CloudSigner"))
                    for m in parse_report(self.path("r.xml")).iter("Module") if m.get("Path")}
        with open(self.path("requests.log")) as f:
            lines = f.read().splitlines()
        requests, self.log_read = [line.split() for line in lines[self.log_read:]], len(lines)
        return verdicts, requests

    def assertVerdicts(self, expected, verdicts):
        for name, pair in expected.items():
            with self.subTest(name):
                self.assertEqual(pair, verdicts[name])

    def vendor_keys(self, requests):
        return sorted(key for fields in requests if fields[0] == "vendor" for key in fields[2:])

    def test_lists_from_files(self):
        self.start("--no-http")
        # Both signers trusted, the second also removed: the removed list wins.
        verdicts, requests = self.scan("--tvl=" + self.wpath("trusted_both.txt"), "--trl=" + self.wpath("removed.txt"))
        self.assertVerdicts({
            "trusted_unknown.exe": ("safe", "safe"),
            "trusted_malware.exe": ("malware", "safe"),  # a trusted signer never clears malware
            "second.exe": ("unknown", "deleted"),
        }, verdicts)
        # Every signer was answered from the lists: only the hashes went out.
        self.assertEqual([], self.vendor_keys(requests))
        self.assertEqual({"hash"}, {fields[0] for fields in requests})

    def test_downloaded_list_and_none(self):
        self.start("--http-port", "80")
        # --tvl alone turns the download on; the server's withdrawn vendor comes from it.
        verdicts, requests = self.scan("--tvl=" + self.wpath("trusted_first.txt"))
        self.assertVerdicts({"trusted_unknown.exe": ("safe", "safe"), "second.exe": ("unknown", "deleted")}, verdicts)
        self.assertIn(["http", "GET", LIST_PATH, "200"], requests)
        self.assertEqual([], self.vendor_keys(requests))

        # --trlNone after --tvl: nothing downloaded. The trusted list is a folder, which can't be
        # read: it adds nothing, so every signer is asked for, all of them before the hashes.
        os.makedirs(self.path("folder.txt"))
        verdicts, requests = self.scan("--tvl=" + self.wpath("folder.txt"), "--trlNone")
        self.assertVerdicts({
            "trusted_unknown.exe": ("unknown", "doesntexist"),
            "trusted_malware.exe": ("malware", "doesntexist"),
            "second.exe": ("unknown", "deleted"),  # the service's own answer
        }, verdicts)
        kinds = [fields[0] for fields in requests]
        self.assertNotIn("http", kinds)
        self.assertEqual(sorted([vendor_key(SIGNER)] * 2 + [vendor_key(SECOND)]), self.vendor_keys(requests))
        self.assertLess(kinds.index("vendor"), kinds.index("hash"))

    def test_download_answered_404_keeps_the_trusted_list(self):
        self.start("--no-http")
        host = NotFoundHost()
        self.addCleanup(host.stop)
        verdicts, requests = self.scan("--tvl=" + self.wpath("trusted_first.txt"))
        self.assertEqual([LIST_PATH], host.paths)
        self.assertVerdicts({
            "trusted_unknown.exe": ("safe", "safe"),
            "trusted_malware.exe": ("malware", "safe"),
            "second.exe": ("unknown", "deleted"),
        }, verdicts)
        # The failed download added nothing: the second signer was asked for, the trusted one not.
        self.assertEqual([vendor_key(SECOND)], self.vendor_keys(requests))


if __name__ == "__main__":
    unittest.main()
