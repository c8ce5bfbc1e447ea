"""Shared pieces of the report tools' tests: the tools on the import path, the fixtures folder,
and a runner for the command as a responder starts it."""
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
TOOLS = os.path.join(TOP, "tools", "report_tools")
FIXTURES = os.path.join(HERE, "fixtures")
SCHEMA = os.path.join(TOP, "schema", "AptReport.xsd")
COMMAND = os.path.join(TOOLS, "vantorag_report.py")
sys.path.insert(0, TOOLS)


def fixture(name):
    return os.path.join(FIXTURES, name)


class Result:
    def __init__(self, process):
        self.code = process.returncode
        self.out = process.stdout.decode("utf-8")
        self.err = process.stderr.decode("utf-8")


def run_tool(*args, env=None, timeout=120):
    full_env = dict(os.environ)
    full_env.update(env or {})
    process = subprocess.run([sys.executable, COMMAND] + list(args), stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=full_env,
                             timeout=timeout)
    return Result(process)


@pytest.fixture
def utf16_copy(tmp_path):
    """Writes a fixture as the scanner writes reports: UTF-16LE with the mark FF FE."""
    def make(name):
        with open(fixture(name), encoding="utf-8") as source:
            text = source.read().replace('encoding="utf-8"', 'encoding="utf-16"', 1)
        path = tmp_path / name
        path.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
        return str(path)
    return make


@pytest.fixture
def without_xmllint(monkeypatch):
    """Makes the tools find no xmllint, so that only their own strict reading checks a report."""
    import report_reader
    monkeypatch.setattr(report_reader.shutil, "which", lambda name: None)
