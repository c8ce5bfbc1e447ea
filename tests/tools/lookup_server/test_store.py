"""The store and its imports: every input format, bad input refused with its line and nothing
half-imported, sightings and the rarest-unknown list."""
import hashlib
import sqlite3
import subprocess
import sys

import pytest

import importers
import store as store_module
from conftest import TOOL

LOOKUPD = [sys.executable, TOOL + "/lookupd.py"]
A = "A" * 40
B = "b" * 40
C = "0123456789abcdef0123456789abcdef01234567"


def lookupd(*args):
    return subprocess.run(LOOKUPD + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def test_unknown_keys_answer_doesntexist(store):
    store.put_hashes([(bytes.fromhex(A), 2, 3, 7, 1644972474000)], "t")
    assert store.hash_verdicts([bytes.fromhex(A), bytes.fromhex(B)]) == [(2, 3, 7, 1644972474000), (0, 0, 0, 0)]
    store.put_vendors([("Good Signer", 1)])
    assert store.vendor_verdicts([store_module.vendor_key("Good Signer"), bytes(20)]) == [1, 0]


# Input formats: (command, file text, extra args, {sha1: fls})
FORMATS = [
    ("import-hashes", "# baseline\n%s\n%s malware\n\n%s 4  # comment\n" % (A, B, C), [],
     {A: 3, B: 2, C: 4}),
    ("import-hashes", "%s\n" % A, ["--verdict", "safe"], {A: 1}),
    ("import-csv", "sha1,verdict,lumen,aux,date\n%s,malware,3,9,2022-02-16T00:47:54Z\n%s,,,,\n" % (A, B), [],
     {A: 2, B: 3}),
]


@pytest.mark.parametrize("command,text,extra,expected", FORMATS)
def test_text_imports(tmp_path, command, text, extra, expected):
    source = tmp_path / "in.txt"
    source.write_text(text)
    db = str(tmp_path / "s.sqlite")
    result = lookupd("--store", db, command, str(source), *extra)
    assert result.returncode == 0, result.stderr
    s = store_module.Store(db)
    got = {k.hex().upper(): f for k, f in s.db.execute("SELECT key, fls FROM hashes")}
    assert got == {k.upper(): v for k, v in expected.items()}
    if command == "import-csv":
        assert s.hash_verdicts([bytes.fromhex(A)]) == [(2, 3, 9, 1644972474000)]
    s.close()


# Bad input: (command, file text, line number in the message)
BAD = [
    ("import-hashes", "%s\nnot-a-hash\n" % A, 2),
    ("import-hashes", "%s\n%s maybe\n" % (A, B), 2),
    ("import-hashes", "%s safe extra\n" % A, 1),
    ("import-csv", "hash,verdict\n%s,safe\n" % A, 1),
    ("import-csv", "sha1,verdict\n%s,safe\n%s\n" % (A, B), 3),
    ("import-csv", "sha1,lumen\n%s,300\n" % A, 2),
    ("import-csv", "sha1,date\n%s,yesterday\n" % A, 2),
]


@pytest.mark.parametrize("command,text,line", BAD)
def test_bad_input_names_its_line_and_imports_nothing(tmp_path, command, text, line):
    db = str(tmp_path / "s.sqlite")
    seed = tmp_path / "seed.txt"
    seed.write_text(C + "\n")
    assert lookupd("--store", db, "import-hashes", str(seed)).returncode == 0
    source = tmp_path / "bad.txt"
    source.write_text(text)
    result = lookupd("--store", db, command, str(source))
    assert result.returncode == 2
    assert ("bad.txt:%d:" % line) in result.stderr, result.stderr
    assert result.stderr.count("\n") == 1
    s = store_module.Store(db)
    assert [k.hex() for (k,) in s.db.execute("SELECT key FROM hashes")] == [C]  # only the seed
    s.close()


def test_nsrl_database(tmp_path):
    rds = tmp_path / "RDS.db"
    db = sqlite3.connect(str(rds))
    db.executescript("CREATE TABLE FILE (sha256 TEXT, sha1 TEXT, md5 TEXT, crc32 TEXT, file_name TEXT, "
                     "file_size INTEGER, package_id INTEGER);")
    db.executemany("INSERT INTO FILE VALUES (?, ?, ?, ?, ?, ?, ?)",
                   [("", A, "", "", "a.exe", 1, 1), ("", A, "", "", "a2.exe", 1, 2), ("", B.upper(), "", "", "b", 2, 1)])
    db.commit()
    db.close()
    rows = importers.read_nsrl(str(rds), 1)
    assert sorted(r[0].hex() for r in rows) == sorted([A.lower(), B])
    assert {r[1] for r in rows} == {1}

    bad = tmp_path / "other.db"
    sqlite3.connect(str(bad)).execute("CREATE TABLE t (x)").connection.close()
    with pytest.raises(importers.ImportError_, match="FILE"):
        importers.read_nsrl(str(bad), 1)


def test_report_import_takes_every_module_sha1(tmp_path):
    xml = ('<?xml version="1.0" encoding="UTF-16"?><AptReport><Modules>'
           '<Module Id="1" Path="C:\\a.exe" Sha1="%s"/><Module Id="2" Sha1="%s"/><Module Id="3" Sha1=""/>'
           '<Module Id="4" Sha1="%s"/></Modules></AptReport>' % (A, C.upper(), A))
    report = tmp_path / "r.xml"
    report.write_bytes(b"\xff\xfe" + xml.encode("utf-16-le"))
    rows = importers.read_report(str(report), 1)
    assert [r[0].hex() for r in rows] == [A.lower(), C]

    other = tmp_path / "o.xml"
    other.write_text("<Other/>")
    with pytest.raises(importers.ImportError_, match="AptReport"):
        importers.read_report(str(other), 1)


def test_vendor_lists(tmp_path):
    names = tmp_path / "v.txt"
    names.write_text("Good Signer\n\nÜber Software GmbH\n", encoding="utf-8")
    db = str(tmp_path / "s.sqlite")
    assert lookupd("--store", db, "import-vendors", str(names)).returncode == 0
    withdrawn = tmp_path / "w.txt"
    withdrawn.write_text("Good Signer\n")
    assert lookupd("--store", db, "import-vendors", str(withdrawn), "--verdict", "withdrawn").returncode == 0
    s = store_module.Store(db)
    keys = [hashlib.sha1("Good Signer".encode()).digest(), hashlib.sha1("Über Software GmbH".encode()).digest()]
    assert s.vendor_verdicts(keys) == [2, 1]
    s.close()


def test_sightings_and_rarest_unknown_first(store):
    known, lone, shared = bytes.fromhex(A), bytes.fromhex(B), bytes.fromhex(C)
    store.put_hashes([(known, 1, 0, 0, 0)], "t")
    store.sight(2, [known, shared], "10.0.0.1", now=100)
    store.sight(2, [shared], "10.0.0.2", now=200)
    store.sight(2, [lone], "10.0.0.3", now=300)
    store.flush()
    store.sight(2, [lone], "10.0.0.3", now=400)
    store.flush()
    assert store.sighting(2, lone) == (300, 400, 2, 1)
    assert store.sighting(2, shared) == (100, 200, 2, 2)
    assert [row[0] for row in store.unknown_hashes()] == [lone, shared]  # the known one is not listed


def test_unknown_and_stats_commands(tmp_path):
    db = str(tmp_path / "s.sqlite")
    s = store_module.Store(db)
    s.sight(2, [bytes.fromhex(C)], "1.2.3.4", now=1644972474)
    s.close()
    out = lookupd("--store", db, "unknown")
    assert out.returncode == 0
    assert out.stdout.splitlines() == ["sha1;sources;asked;first_seen;last_seen",
                                       "%s;1;1;2022-02-16T00:47:54Z;2022-02-16T00:47:54Z" % C.upper()]
    assert "unknown_hashes=1" in lookupd("--store", db, "stats").stdout


def test_command_line_errors(tmp_path):
    cases = [
        (["--store", str(tmp_path / "none.sqlite"), "stats"], "no such store"),
        (["--store", str(tmp_path / "s.sqlite"), "import-hashes", str(tmp_path / "missing.txt")], "no such file"),
        (["serve", "--udp-port", "70000"], "0..65535"),
        (["--store", str(tmp_path / "s.sqlite"), "serve", "--request-log", str(tmp_path / "no" / "log")],
         "can't open the request log"),
        (["import-hashes", "x", "--verdict", "great"], "unknown verdict"),
    ]
    for args, message in cases:
        result = lookupd(*args)
        assert result.returncode == 2, args
        assert message in result.stderr, (args, result.stderr)
    assert lookupd("--help").returncode == 0


def test_foreign_file_is_not_a_store(tmp_path):
    path = tmp_path / "x.sqlite"
    path.write_bytes(b"this is not sqlite" * 100)
    result = lookupd("--store", str(path), "stats")
    assert result.returncode == 2 and "store" in result.stderr
