"""The command itself: help for each subcommand, usage errors, and output files that are either
whole or left as they were."""
import os

import pytest

import output_file
from conftest import fixture, run_tool
from tool_errors import InputError


@pytest.mark.parametrize("args,expected", [
    (["--help"], "html"),
    (["html", "--help"], "-o OUT"),
    (["csv", "--help"], "{autoruns,drivers,modules,processes}"),
    (["json", "--help"], "REPORT"),
    (["diff", "--help"], "--json"),
    (["watch", "--help"], "--interval S"),
])
def test_help(args, expected):
    result = run_tool(*args)
    assert (result.code, result.err) == (0, "")
    assert expected in result.out


@pytest.mark.parametrize("args,message", [
    ([], "the following arguments are required: COMMAND"),
    (["csv", "r.xml"], "the following arguments are required: --table"),
    (["csv", "r.xml", "--table", "files"], "invalid choice: 'files'"),
    (["watch", "s.txt", "--interval", "soon"], "invalid float value: 'soon'"),
    (["print", "r.xml"], "invalid choice: 'print'"),
])
def test_usage_errors_exit_2(args, message):
    result = run_tool(*args)
    assert result.code == 2
    assert message in result.err.splitlines()[-1]


def test_a_failed_conversion_leaves_the_old_output(tmp_path):
    out = tmp_path / "page.html"
    out.write_text("last week's page")
    broken = tmp_path / "broken.xml"
    broken.write_bytes(open(fixture("full.xml"), "rb").read()[:-40])
    for validator in (None, {"PATH": "/nonexistent"}):
        result = run_tool("html", str(broken), "-o", str(out), env=validator)
        assert result.code == 1
        assert out.read_text() == "last week's page"
        assert sorted(os.listdir(tmp_path)) == ["broken.xml", "page.html"]
    assert run_tool("html", fixture("full.xml"), "-o", str(out)).code == 0
    assert out.read_text(encoding="utf-8").startswith("<!DOCTYPE html>")
    assert sorted(os.listdir(tmp_path)) == ["broken.xml", "page.html"]


def test_an_output_that_cannot_be_written(tmp_path):
    result = run_tool("json", fixture("full.xml"), "-o", str(tmp_path / "no" / "such" / "r.json"))
    assert result.code == 1
    assert result.err.startswith("vantorag_report: error: %s: can't write the output: " % (tmp_path / "no" / "such" / "r.json"))


def test_an_interrupted_write_removes_its_temporary_file(tmp_path):
    target = tmp_path / "r.csv"
    with pytest.raises(KeyboardInterrupt):
        with output_file.output_text(str(target)) as stream:
            stream.write("half")
            raise KeyboardInterrupt
    assert os.listdir(tmp_path) == []
    with pytest.raises(InputError):
        with output_file.output_text(str(tmp_path)):   # a folder stands where the file should go
            pass
    assert os.listdir(tmp_path) == []
