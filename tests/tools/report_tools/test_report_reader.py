"""Reading reports: the fixtures are valid reports, every record comes out with its fields, and a
report that is cut short or breaks the report's form is turned away with one line, with xmllint
and without it."""
import os
import subprocess

import pytest

import report_reader
from conftest import SCHEMA, fixture, run_tool

FIXTURES = ["full.xml", "empty.xml", "lastweek.xml", "wine_scan.xml"]


@pytest.mark.parametrize("name", FIXTURES)
def test_fixtures_match_the_schema(name):
    process = subprocess.run(["xmllint", "--noout", "--schema", SCHEMA, fixture(name)],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    assert process.returncode == 0, process.stdout.decode()


def test_records_in_document_order_with_their_fields(without_xmllint):
    records = list(report_reader.read_records(fixture("full.xml")))
    assert [kind for kind, _ in records] == (
        ["report", "computer"] + ["module"] * 7 + ["process"] * 3 + ["driver"] * 2 + ["autorun"] * 6)
    assert records[0][1] == {"skipGac": "true"}
    computer = records[1][1]
    assert computer["Name"] == "WS-0042"
    assert computer["OperatingSystem"]["BuildNumber"] == "7601"
    assert [c["Name"] for c in computer["Connections"]] == ["Ethernet", "Loopback"]
    dropper = records[3][1]
    assert dropper["Description"] == 'Updater, "helper"\nsecond line <script>alert(1)</script>'
    assert "Signer" not in dropper and "Copyright" not in dropper
    assert records[10][1]["Modules"] == [1, 0, 9, 1]
    assert records[-1][1] == {"ModuleRefId": "5", "Scope": "", "Where": "@weird"}


def test_the_scanners_utf16_form_reads_like_utf8(utf16_copy):
    assert list(report_reader.read_records(utf16_copy("full.xml"))) == \
        list(report_reader.read_records(fixture("full.xml")))


def _replace(old, new, count=1):
    def edit(text):
        assert old in text, old
        return text.replace(old, new, count)
    return edit


# (case, edit of full.xml, what the one line says)
BAD_REPORTS = [
    # Not complete XML
    ("empty file", lambda text: "", "not well-formed XML: no element found; the report is cut short"),
    ("cut in half", lambda text: text[:len(text) // 2], "the report is cut short"),
    ("not XML", lambda text: "MZ\x90\x00 this is a program", "line 1, column 3: not well-formed XML: not well-formed (invalid token)"),
    ("document type", _replace("<AptReport", "<!DOCTYPE AptReport [<!ENTITY a 'x'>]>\n<AptReport"),
     "a document type declaration"),
    # Elements out of form
    ("wrong root", lambda text: text.replace("AptReport", "Report"), "the root element is Report"),
    ("sections out of order", lambda text: text.replace("<Drivers>", "<Processes>", 1)
     .replace("</Drivers>", "</Processes>", 1), "a second Processes"),
    ("process without module list", _replace("<Modules/>", ""), "Process has no Modules"),
    ("text in a section", _replace("<Drivers>", "<Drivers>junk"), "text inside Drivers"),
    ("second module Id", _replace('Module Id="2"', 'Module Id="1"'), "a second Module Id 1"),
    # Attributes out of form
    ("unknown attribute", _replace('Gac="false"/>', 'Gac="false" Extra="1"/>'),
     "Module has an attribute Extra"),
    ("missing attribute", _replace(' Gac="false"', ""), "Module has no Gac"),
    ("lower-case hash", _replace('Sha1="A0A1', 'Sha1="a0a1'), "not 40 upper-case hexadecimal digits"),
    ("unknown verdict", _replace('Cloud="malware"', 'Cloud="bad"'), "Module Cloud is 'bad'"),
    ("no such day", _replace('Created="2016-03-05T00:00:00Z"', 'Created="2016-02-30T00:00:00Z"'),
     "not a time like"),
    ("hour 24", _replace('CpuTime="1T01:01:01"', 'CpuTime="1T24:01:01"'), "not a duration"),
    ("negative reference", _replace('Driver ModuleRefId="3"', 'Driver ModuleRefId="-1"'),
     "Driver ModuleRefId is '-1'"),
    ("pid past 32 bits", _replace('Pid="4000000000"', 'Pid="4294967296"'), "Process Pid is '4294967296'"),
    ("16-bit system", _replace('BitSystem="64"', 'BitSystem="16"'), "OperatingSystem BitSystem is '16'"),
]


@pytest.mark.parametrize("validator", ["xmllint", "own reader"])
@pytest.mark.parametrize("case,edit,message", BAD_REPORTS, ids=[case[0] for case in BAD_REPORTS])
def test_bad_report_gives_one_line_and_no_output(tmp_path, validator, case, edit, message):
    with open(fixture("full.xml"), encoding="utf-8") as source:
        broken = edit(source.read())
    report = tmp_path / "broken.xml"
    report.write_text(broken, encoding="utf-8")
    out = tmp_path / "out.csv"
    env = {"PATH": "/nonexistent"} if validator == "own reader" else None
    result = run_tool("csv", str(report), "--table", "autoruns", "-o", str(out), env=env)
    assert result.code == 1
    assert result.err.count("\n") == 1, result.err
    assert result.err.startswith("vantorag_report: error: %s: " % report)
    assert message in result.err
    assert result.out == ""
    assert os.listdir(tmp_path) == ["broken.xml"]


def test_missing_report(tmp_path):
    result = run_tool("json", str(tmp_path / "none.xml"))
    assert (result.code, result.err) == (
        1, "vantorag_report: error: %s: can't open the report: No such file or directory\n" % (tmp_path / "none.xml"))


def test_schema_word_for_what_the_reader_allows(tmp_path):
    # a stricter schema than the report's: only xmllint can say what is wrong
    schema = tmp_path / "strict.xsd"
    schema.write_text('<xs:schema xmlns:xs="http://www.w3.org/2001/XMLSchema">'
                      '<xs:element name="AptReport"><xs:complexType><xs:sequence>'
                      '<xs:any processContents="skip" minOccurs="0" maxOccurs="unbounded"/>'
                      '</xs:sequence><xs:attribute name="skipGac" fixed="false"/>'
                      '</xs:complexType></xs:element></xs:schema>')
    assert report_reader.validate(fixture("empty.xml"), str(schema)) is True
    result = run_tool("json", fixture("full.xml"), "--schema", str(schema))
    assert result.code == 1
    assert "does not match the report schema: " in result.err
    assert run_tool("json", fixture("full.xml"), "--schema", str(schema), "--no-schema").code == 0
