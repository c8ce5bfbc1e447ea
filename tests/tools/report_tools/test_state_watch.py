"""The state file and its watcher: each line format the scanner writes, a file caught while it is
rewritten, the wrong encoding, and the progress lines and exit status of a followed scan."""
import io
import threading
import time

import pytest

import state_file
import state_watch
from conftest import fixture, run_tool
from tool_errors import InputError


def encoded(line):
    return line.encode("utf-16-le") + b"\0\0"


# (case, line, fields that must hold)
GOOD_LINES = [
    ("three files, one hash failure", "7;3;60;3;30;1;0;0;1;1;0;0;0;",
     dict(Phase=7, FilesFound=3, BytesFound=60, FilesProcessed=3, BytesProcessed=30, CountUnknown=1,
          CountDoesntExist=0, CountError=0, HashFailures=1, CountSafe=1, CountMalware=0, Skipped=0,
          CountServerError=0, ErrorText="")),
    ("failed run", "8;0;0;0;0;0;0;0;0;0;0;0;0;Error 0x80070005", dict(Phase=8, ErrorText="Error 0x80070005")),
    ("fields in file order", "5;1;2;3;4;5;6;7;8;9;10;11;12;",
     dict(FilesFound=1, BytesFound=2, FilesProcessed=3, BytesProcessed=4, CountUnknown=5, CountDoesntExist=6,
          CountError=7, HashFailures=8, CountSafe=9, CountMalware=10, Skipped=11, CountServerError=12)),
    # the scanner prints unsigned counters as signed decimals
    ("counters past 2^31", "5;-2;-1;-2147483648;0;0;0;0;0;0;0;0;0;",
     dict(FilesFound=2 ** 32 - 2, BytesFound=2 ** 64 - 1, FilesProcessed=2 ** 31)),
]


@pytest.mark.parametrize("case,line,fields", GOOD_LINES, ids=[c[0] for c in GOOD_LINES])
def test_state_lines(case, line, fields):
    state = state_file.parse_state(encoded(line))
    assert {name: getattr(state, name) for name in fields} == fields


def test_the_wine_scans_state_file():
    with open(fixture("wine_scan_state.txt"), "rb") as stream:
        state = state_file.parse_state(stream.read())
    assert (state.Phase, state.FilesFound, state.FilesProcessed, state.CountError) == (7, 53, 53, 53)


@pytest.mark.parametrize("data", [b"", b"7\0;\0", encoded("7;0")[:-1]], ids=["empty", "no NUL", "odd length"])
def test_a_file_being_rewritten_is_incomplete(data):
    with pytest.raises(state_file.Incomplete):
        state_file.parse_state(data)


@pytest.mark.parametrize("data,why", [
    ("7;3;60;3;30;1;0;0;1;1;0;0;0;".encode("utf-16-be") + b"\0\0", "not UTF-16LE text"),
    (encoded("7;3;60;3;30;1;0;0;1;1;0;0;0;")[:-2] + b"\x00\xd8\0\0", "not UTF-16LE text"),
    (b"7;3;60;3;30;1;0;0;1;1;0;0;0;\0\0", "not UTF-16LE text"),
    (encoded("7;3;60"), "not one line of 14 fields"),
    (encoded("7;3;x;3;30;1;0;0;1;1;0;0;0;"), "field BytesFound is 'x'"),
    (encoded("7;3;60;3;30;1;0;0;1;1;0;0;0;\0"), "not one line"),
], ids=["big-endian", "lone surrogate", "UTF-8", "too few fields", "not a number", "second NUL"])
def test_malformed_files(data, why):
    with pytest.raises(state_file.Malformed, match=why):
        state_file.parse_state(data)


class FakeFile:
    """A state file that changes as the fake clock advances: (time, bytes or None for missing)."""

    def __init__(self, versions):
        self.versions = versions
        self.now = 0.0

    def clock(self):
        return self.now

    def sleep(self, seconds):
        self.now += seconds

    def read(self, path):
        data = None
        for at, version in self.versions:
            if at <= self.now:
                data = version
        if data is None:
            raise FileNotFoundError(path)
        return data


def watch(versions, terminal=False, **options):
    fake = FakeFile(versions)
    out = io.StringIO()
    watcher = state_watch.Watcher("s.txt", out, interval=1.0, terminal=terminal, width=options.pop("width", 200),
                                  clock=fake.clock, sleep=fake.sleep, read=fake.read, **options)
    return watcher.run(), out.getvalue()


SCAN = [
    (0, encoded("1;0;0;0;0;0;0;0;0;0;0;0;0;")),
    (1, encoded("4;100;4096;0;0;0;0;0;0;0;0;0;0;")),
    (3, encoded("4;300;1048576;0;0;0;0;0;0;0;0;0;0;")),
    (4, encoded("5;300;1048576;0;0;0;0;0;0;0;0;0;0;")),
    (6, encoded("5;300;1048576;120;524288;10;5;1;2;100;3;0;1;")),
    (7, encoded("7;300;1048576;300;1048576;20;5;1;2;268;3;0;1;")),
]


def test_plain_lines_for_each_change_and_the_final_state():
    code, out = watch(SCAN)
    assert code == 0
    assert out.splitlines() == [
        "collecting processes: 0 files found, 0 B; malware 0, unknown 0, safe 0, doesntexist 0, error 0, servererror 0; hash failures 0, skipped 0; - files/s",
        "walking the file-system scope: 100 files found, 4.0 KiB; malware 0, unknown 0, safe 0, doesntexist 0, error 0, servererror 0; hash failures 0, skipped 0; 100.0 files/s",
        "walking the file-system scope: 300 files found, 1.0 MiB; malware 0, unknown 0, safe 0, doesntexist 0, error 0, servererror 0; hash failures 0, skipped 0; 100.0 files/s",
        "hashing and looking up: 0 of 300 files, 0 B of 1.0 MiB; malware 0, unknown 0, safe 0, doesntexist 0, error 0, servererror 0; hash failures 0, skipped 0; - files/s",
        "hashing and looking up: 120 of 300 files, 512.0 KiB of 1.0 MiB; malware 3, unknown 10, safe 100, doesntexist 5, error 1, servererror 1; hash failures 2, skipped 0; 60.0 files/s",
        "finished: 300 of 300 files, 1.0 MiB of 1.0 MiB; malware 3, unknown 20, safe 268, doesntexist 5, error 1, servererror 1; hash failures 2, skipped 0",
    ]


def test_terminal_line_is_redrawn_in_place_and_cut_to_the_width():
    code, out = watch([(0, encoded("5;10;0;1;0;0;0;0;0;0;0;0;0;")), (2, encoded("9;10;0;5;0;0;0;0;0;0;0;0;0;"))],
                      terminal=True, width=30)
    assert code == 4
    assert out == ("\rhashing and looking up: 1 of \x1b[K" * 2 + "\rstopped: 5 of 10 files, 0 B o\x1b[K\n")


@pytest.mark.parametrize("line,code", [
    ("7;0;0;0;0;0;0;0;0;0;0;0;0;", 0),
    ("8;0;0;0;0;0;0;0;0;0;0;0;0;Error 0x80070005", 3),
    ("9;0;0;0;0;0;0;0;0;0;0;0;0;", 4),
])
def test_exit_status_follows_the_final_phase(line, code):
    status, out = watch([(0, encoded("10;0;0;0;0;0;0;0;0;0;0;0;0;")), (1, encoded(line))])
    assert status == code
    assert out.splitlines()[0].startswith("paused: ")
    if code == 3:
        assert out.splitlines()[-1].endswith("; Error 0x80070005")


def test_rewrites_caught_half_way_are_waited_out():
    code, out = watch([(0, b""), (1, encoded("7;0;0;0;0;0;0;0;0;0;0;0;0;")[:10]),
                       (2, encoded("7;1;0;1;0;0;0;0;0;1;0;0;0;"))])
    assert (code, len(out.splitlines())) == (0, 1)


def test_a_file_that_never_completes_is_no_state_file():
    with pytest.raises(InputError, match="no NUL code unit at its end"):
        watch([(0, b"7;0;0;0;0;0;0;0;0;0;0;0;0;")])


def test_missing_file_and_waiting_for_it():
    with pytest.raises(InputError, match="can't open the state file: No such file or directory"):
        watch([])
    assert watch([(3, encoded("7;0;0;0;0;0;0;0;0;0;0;0;0;"))], wait=5)[0] == 0
    with pytest.raises(InputError, match="can't open the state file"):
        watch([(6, encoded("7;0;0;0;0;0;0;0;0;0;0;0;0;"))], wait=5)


def test_watch_command_follows_a_file_the_scan_rewrites(tmp_path):
    path = tmp_path / "state.txt"
    path.write_bytes(encoded("5;2;20;0;0;0;0;0;0;0;0;0;0;"))

    def scan():
        time.sleep(0.5)
        path.write_bytes(encoded("5;2;20;1;10;0;0;0;0;1;0;0;0;"))
        time.sleep(0.5)
        path.write_bytes(encoded("8;2;20;2;20;0;0;0;1;1;0;0;0;Error 0x80070005"))

    writer = threading.Thread(target=scan)
    writer.start()
    result = run_tool("watch", str(path), "--interval", "0.1", timeout=60)
    writer.join()
    assert result.code == 3, result.err
    assert result.out.splitlines()[-1] == (
        "failed: 2 of 2 files, 20 B of 20 B; malware 0, unknown 0, safe 1, doesntexist 0, error 0, "
        "servererror 0; hash failures 1, skipped 0; Error 0x80070005")
    assert result.out.splitlines()[0].startswith("hashing and looking up: 0 of 2 files, 0 B of 20 B;")


@pytest.mark.parametrize("args,message", [
    (["missing.txt"], "missing.txt: can't open the state file: No such file or directory"),
    (["utf8.txt"], "utf8.txt: not a state file: not UTF-16LE text (UTF-8 or big-endian?)"),
    (["utf8.txt", "--interval", "0"], "--interval must be more than 0 seconds"),
])
def test_watch_command_bad_input(tmp_path, monkeypatch, args, message):
    (tmp_path / "utf8.txt").write_bytes(b"7;3;60;3;30;1;0;0;1;1;0;0;0;\0\0")
    monkeypatch.chdir(tmp_path)
    result = run_tool("watch", *args)
    assert (result.code, result.err) == (1, "vantorag_report: error: %s\n" % message)
