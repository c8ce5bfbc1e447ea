"""The choice of Windows builds that the test and scan commands make (scripts/wine-builds.sh)."""
import os
import pathlib
import subprocess

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "wine-builds.sh"


def choose(value):
    env = dict(os.environ)
    env.pop("VANTORAG_WINE_BUILDS", None)
    if value is not None:
        env["VANTORAG_WINE_BUILDS"] = value
    return subprocess.run(["sh", "-c", '. "$0"; echo "$runs32|$why32"', str(SCRIPT)], env=env,
                          capture_output=True, text=True)


def machine_runs_32bit():
    try:
        return subprocess.run(["/usr/lib/wine/wine", "--version"], capture_output=True).returncode == 0
    except OSError:
        return False


@pytest.mark.parametrize("value, runs32, why", [
    ("both", "1", "forced by VANTORAG_WINE_BUILDS=both"),
    ("x64", "0", "forced by VANTORAG_WINE_BUILDS=x64"),
])
def test_forced_choice(value, runs32, why):
    result = choose(value)
    assert result.returncode == 0
    assert result.stdout.strip() == runs32 + "|" + why


@pytest.mark.parametrize("value", [None, "auto"])
def test_probe_follows_the_machine(value):
    result = choose(value)
    assert result.returncode == 0
    runs32, why = result.stdout.strip().split("|", 1)
    assert runs32 == ("1" if machine_runs_32bit() else "0")
    assert ("runs 32-bit programs" if runs32 == "1" else "runs no 32-bit programs") in why


def test_unknown_value_is_refused():
    result = choose("x86")
    assert result.returncode == 2
    assert result.stderr.strip() == "VANTORAG_WINE_BUILDS must be auto, both or x64, not 'x86'"
