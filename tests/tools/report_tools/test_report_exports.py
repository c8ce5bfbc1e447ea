"""CSV and JSON exports: fixed columns, one row per element with its module joined in (none for
ModuleRefId 0), RFC 4180 quoting, spreadsheet formulas defused, typed JSON values."""
import csv
import io
import json

from conftest import fixture, run_tool

APP = {
    "Module.Path": r"C:\Program Files\App\app.exe", "Module.Size": "1048576",
    "Module.Attributes": "32", "Module.Created": "2016-03-01T09:05:07Z",
    "Module.Modified": "2016-03-02T10:00:00Z", "Module.Accessed": "2016-03-03T11:00:00Z",
    "Module.Sha1": "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3", "Module.Cloud": "safe",
    "Module.CloudFls": "safe", "Module.CloudSigner": "safe", "Module.CloudLumen": "Undetected",
    "Module.CloudDate": "2016-03-04T12:00:00Z", "Module.Signer": "App Vendor Ltd",
    "Module.Description": "App main program", "Module.Version": "1.2.3.4",
    "Module.Copyright": "(c) App Vendor", "Module.Product": "App", "Module.Clr": "false",
    "Module.Gac": "false",
}
NO_MODULE = {column: "" for column in APP}
MODULE_COLUMNS = ["Id", "Path", "Size", "Attributes", "Created", "Modified", "Accessed", "Sha1",
                  "Cloud", "CloudFls", "CloudSigner", "CloudLumen", "CloudDate", "Signer",
                  "Description", "Version", "Copyright", "Product", "Clr", "Gac"]


def csv_rows(*args):
    result = run_tool("csv", *args)
    assert (result.code, result.err) == (0, "")
    return list(csv.DictReader(io.StringIO(result.out, newline="")))


def test_column_names_are_fixed():
    header = run_tool("csv", fixture("empty.xml"), "--table", "autoruns").out
    assert header == ",".join(["ModuleRefId", "Scope", "Where"] + ["Module." + c for c in MODULE_COLUMNS[1:]]) + "\r\n"
    header = run_tool("csv", fixture("empty.xml"), "--table", "modules").out
    assert header == ",".join(MODULE_COLUMNS) + "\r\n"


def test_module_rows_keep_the_reports_values():
    rows = csv_rows(fixture("full.xml"), "--table", "modules")
    assert [row["Id"] for row in rows] == ["1", "2", "3", "4", "5", "6", "7"]
    assert rows[0] == dict({"Id": "1", "Path": APP["Module.Path"]},
                           **{key[len("Module."):]: value for key, value in APP.items() if key != "Module.Path"})
    # absent optional attributes are empty cells; the largest numbers survive
    assert (rows[2]["CloudLumen"], rows[2]["CloudDate"], rows[2]["Signer"]) == ("", "", "Revoked Signer")
    assert (rows[4]["Size"], rows[4]["Attributes"]) == ("18446744073709551615", "4294967295")


def test_process_rows_join_the_main_image():
    rows = csv_rows(fixture("full.xml"), "--table", "processes")
    assert rows[0] == dict(NO_MODULE, Pid="4", ParentPid="0", ModuleRefId="0", User="NT AUTHORITY\\SYSTEM",
                           Cmd="", Created="1970-01-01T00:00:00Z", CpuTime="0T00:00:00", Elevated="true",
                           UacVirtualization="false", Modules="")
    assert rows[1] == dict(APP, Pid="1200", ParentPid="600", ModuleRefId="1", User="WS-0042\\alice",
                           Cmd='"C:\\Program Files\\App\\app.exe" /background', Created="2016-03-07T08:00:00Z",
                           CpuTime="1T01:01:01", Elevated="false", UacVirtualization="true", Modules="1 0 9 1")
    assert (rows[2]["Pid"], rows[2]["Module.Path"]) == ("4000000000", r"C:\Users\Public\dropper.exe")


def test_driver_and_autorun_rows():
    drivers = csv_rows(fixture("full.xml"), "--table", "drivers")
    assert [(row["ModuleRefId"], row["Module.Path"], row["Module.Cloud"]) for row in drivers] == [
        ("3", r"C:\Windows\System32\drivers\odd.sys", "unknown"), ("0", "", "")]
    autoruns = csv_rows(fixture("full.xml"), "--table", "autoruns")
    assert [(row["Scope"], row["Where"], row["Module.Path"], row["Module.Signer"], row["Module.Cloud"])
            for row in autoruns] == [
        ("Logon", r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run\updater", r"C:\Users\Public\dropper.exe", "", "malware"),
        ("TaskScheduler", r"\Updates\upd", r"C:\ProgramData\upd.exe", "Small Tools", "unknown"),
        ("Services", r"HKLM\System\CurrentControlSet\Services\App", APP["Module.Path"], "App Vendor Ltd", "safe"),
        ("Explorer", r"HKLM\Software\Classes\*\shellex\ContextMenuHandlers\Gone", "", "", ""),
        ("Drivers", "", r"C:\Windows\System32\drivers\odd.sys", "Revoked Signer", "unknown"),
        ("", "'@weird", r"C:\tools\net.exe", "", "servererror"),
    ]
    assert autoruns[2] == dict(APP, ModuleRefId="1", Scope="Services", Where=autoruns[2]["Where"])


def test_rfc4180_quoting_and_formulas():
    out = run_tool("csv", fixture("full.xml"), "--table", "processes").out
    # quotes doubled, a field with a comma, quote or line break quoted, CRLF between records
    assert '"\'-c ""a, b""",' in out
    assert '"Updater, ""helper""\nsecond line <script>alert(1)</script>"' in out
    assert "\"'=HYPERLINK(\"\"x\"\")\"" in out
    assert out.count("\r\n") == 4
    raw = csv_rows(fixture("full.xml"), "--table", "processes", "--raw")
    assert (raw[2]["Cmd"], raw[2]["Module.Product"]) == ('-c "a, b"', '=HYPERLINK("x")')
    # numbers are never text to defuse
    assert csv_rows(fixture("full.xml"), "--table", "drivers", "--raw") == \
        csv_rows(fixture("full.xml"), "--table", "drivers")


def test_json_holds_every_table_with_typed_values():
    result = run_tool("json", fixture("full.xml"))
    assert (result.code, result.err) == (0, "")
    report = json.loads(result.out)
    assert list(report) == ["skipGac", "computer", "modules", "processes", "drivers", "autoruns"]
    assert report["skipGac"] is True
    assert report["computer"] == {
        "Name": "WS-0042", "SID": "S-1-5-18",
        "OperatingSystem": {"MajorVer": 6, "MinorVer": 1, "BuildNumber": 7601, "ServicePackMajor": 1,
                            "ServicePackMinor": 0, "SuiteMask": 256, "IsServerR2": False,
                            "ProductType": 1, "BitSystem": 64},
        "Connections": [{"Name": "Ethernet", "Type": 6, "IPv4": "192.0.2.10", "IPv6": "2001:db8::10"},
                        {"Name": "Loopback", "Type": 24, "IPv4": "127.0.0.1", "IPv6": ""}]}
    assert [len(report[table]) for table in ("modules", "processes", "drivers", "autoruns")] == [7, 3, 2, 6]
    module = report["modules"][2]
    assert (module["Id"], module["Size"], module["Clr"], module["CloudLumen"], module["Signer"]) == (
        3, 8192, False, None, "Revoked Signer")
    process = report["processes"][1]
    assert (process["Pid"], process["Modules"], process["Elevated"], process["Module.Size"]) == (
        1200, [1, 0, 9, 1], False, 1048576)
    assert report["processes"][0]["Module.Path"] is None
    assert report["modules"][4]["Size"] == 2 ** 64 - 1
    # text keeps what a spreadsheet would run: JSON readers don't
    assert report["modules"][1]["Product"] == '=HYPERLINK("x")'


def test_json_of_a_report_without_sections():
    report = json.loads(run_tool("json", fixture("empty.xml")).out)
    assert (report["modules"], report["processes"], report["drivers"], report["autoruns"]) == ([], [], [], [])


def test_the_wine_scan(utf16_copy):
    # a report the scanner wrote under Wine: every process's main image is joined
    rows = csv_rows(fixture("wine_scan.xml"), "--table", "processes")
    assert len(rows) == 13
    assert all(row["Module.Path"] for row in rows if row["ModuleRefId"] != "0")
    modules = json.loads(run_tool("json", fixture("wine_scan.xml")).out)["modules"]
    assert len(modules) == 53
    paths = {module["Id"]: module["Path"] for module in modules}
    assert all(row["Module.Path"] == paths.get(int(row["ModuleRefId"]), "") for row in rows)
    # the scanner's UTF-16 form of a hand-made report exports as the UTF-8 one does
    assert run_tool("json", utf16_copy("full.xml")).out == run_tool("json", fixture("full.xml")).out
