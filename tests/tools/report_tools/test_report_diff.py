"""Comparing a machine with its report of last week: records are matched by path, location and
command line, never by Id; text for a person, JSON for a program."""
import json

from conftest import fixture, run_tool

EXPECTED = """\
modules: 2 added, 2 removed, 1 changed
+ C:\\ProgramData\\upd.exe (unknown, signer "Small Tools", sha1 3333333333333333333333333333333333333333)
+ C:\\Users\\Public\\dropper.exe (malware, sha1 00112233445566778899AABBCCDDEEFF00112233)
- C:\\old\\old.dll (safe, sha1 4444444444444444444444444444444444444444)
- C:\\Windows\\System32\\drivers\\legacy.sys (safe, sha1 6666666666666666666666666666666666666666)
~ C:\\Program Files\\App\\app.exe: sha1 5555555555555555555555555555555555555555 -> A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3; verdict unknown -> safe; signer "App Vendor" -> "App Vendor Ltd"
autoruns: 3 added, 1 removed
+ (no category) @weird -> C:\\tools\\net.exe (servererror)
+ Logon HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\updater -> C:\\Users\\Public\\dropper.exe (malware)
+ TaskScheduler \\Updates\\upd -> C:\\ProgramData\\upd.exe (unknown)
- Logon HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\oldtool -> C:\\old\\old.dll (safe)
drivers: 1 added
+ C:\\Windows\\System32\\drivers\\odd.sys (unknown)
processes: 1 added
+ C:\\Users\\Public\\dropper.exe [-c "a, b"] (malware)
"""


def test_text_lists_every_difference():
    result = run_tool("diff", fixture("lastweek.xml"), fixture("full.xml"))
    assert (result.code, result.err) == (0, "")
    assert result.out == EXPECTED


def test_json_form():
    diff = json.loads(run_tool("diff", "--json", fixture("lastweek.xml"), fixture("full.xml")).out)
    assert diff["modules"]["changed"] == [{
        "path": r"C:\Program Files\App\app.exe",
        "sha1": {"old": "5555555555555555555555555555555555555555", "new": "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3"},
        "verdict": {"old": "unknown", "new": "safe"},
        "signer": {"old": "App Vendor", "new": "App Vendor Ltd"}}]
    assert diff["modules"]["added"][1] == {"path": r"C:\Users\Public\dropper.exe",
                                           "sha1": "00112233445566778899AABBCCDDEEFF00112233",
                                           "verdict": "malware", "signer": ""}
    assert diff["autoruns"]["removed"] == [{
        "category": "Logon", "location": r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run\oldtool",
        "file": r"C:\old\old.dll", "verdict": "safe"}]
    assert diff["processes"]["added"] == [{"file": r"C:\Users\Public\dropper.exe", "cmd": '-c "a, b"',
                                           "verdict": "malware"}]
    assert diff["computer"] == {"old": "WS-0042", "new": "WS-0042"}


def test_a_report_against_itself_and_the_other_way_round(utf16_copy):
    same = run_tool("diff", fixture("full.xml"), utf16_copy("full.xml")).out
    assert same == "modules: 0 added, 0 removed, 0 changed\nautoruns: 0 added, 0 removed\n" \
                   "drivers: 0 added\nprocesses: 0 added\n"
    back = json.loads(run_tool("diff", "--json", fixture("full.xml"), fixture("lastweek.xml")).out)
    assert [m["path"] for m in back["modules"]["removed"]] == [r"C:\ProgramData\upd.exe", r"C:\Users\Public\dropper.exe"]
    assert len(back["autoruns"]["removed"]) == 3
    # a driver that went away is no news
    assert [d["file"] for d in back["drivers"]["added"]] == [r"C:\Windows\System32\drivers\legacy.sys"]


def test_other_computer_is_named_and_a_bad_side_fails(tmp_path):
    result = run_tool("diff", fixture("empty.xml"), fixture("lastweek.xml"))
    assert result.out.splitlines()[0] == 'note: the reports name different computers: "" and "WS-0042"'
    cut = tmp_path / "cut.xml"
    cut.write_bytes(open(fixture("full.xml"), "rb").read()[:300])
    result = run_tool("diff", fixture("full.xml"), str(cut))
    assert result.code == 1 and result.out == ""
    assert result.err.startswith("vantorag_report: error: %s: line " % cut)
