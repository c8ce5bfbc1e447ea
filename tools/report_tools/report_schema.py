"""The AptReport element tree as data: which children each element holds, in which order and how
often, and each attribute's value type. The reader walks these tables to check a report strictly
when no schema validator is at hand, and the exports use the types to give JSON its values."""
import re

UNBOUNDED = None

# Element path -> its children as a sequence of (tag, least, most).
CHILDREN = {
    "AptReport": [("Computer", 1, 1), ("Modules", 0, 1), ("Processes", 0, 1), ("Drivers", 0, 1),
                  ("Autoruns", 0, 1)],
    "AptReport/Computer": [("OperatingSystem", 1, 1), ("Connections", 1, 1)],
    "AptReport/Computer/OperatingSystem": [],
    "AptReport/Computer/Connections": [("Connection", 0, UNBOUNDED)],
    "AptReport/Computer/Connections/Connection": [],
    "AptReport/Modules": [("Module", 0, UNBOUNDED)],
    "AptReport/Modules/Module": [],
    "AptReport/Processes": [("Process", 0, UNBOUNDED)],
    "AptReport/Processes/Process": [("Modules", 1, 1)],
    "AptReport/Processes/Process/Modules": [("Module", 0, UNBOUNDED)],
    "AptReport/Processes/Process/Modules/Module": [],
    "AptReport/Drivers": [("Driver", 0, UNBOUNDED)],
    "AptReport/Drivers/Driver": [],
    "AptReport/Autoruns": [("Autorun", 0, UNBOUNDED)],
    "AptReport/Autoruns/Autorun": [],
}

REQUIRED, OPTIONAL = True, False

MODULE_ATTRIBUTES = [
    ("Id", "ModuleId", REQUIRED), ("Path", "string", REQUIRED), ("Size", "unsignedLong", REQUIRED),
    ("Attributes", "unsignedInt", REQUIRED), ("Created", "Time", REQUIRED),
    ("Modified", "Time", REQUIRED), ("Accessed", "Time", REQUIRED), ("Sha1", "Sha1", REQUIRED),
    ("Cloud", "Verdict", REQUIRED), ("CloudFls", "Verdict", REQUIRED),
    ("CloudSigner", "SignerTrust", REQUIRED), ("CloudLumen", "AnalysisState", OPTIONAL),
    ("CloudDate", "Time", OPTIONAL), ("Signer", "string", OPTIONAL),
    ("Description", "string", OPTIONAL), ("Version", "string", OPTIONAL),
    ("Copyright", "string", OPTIONAL), ("Product", "string", OPTIONAL), ("Clr", "Bool", REQUIRED),
    ("Gac", "Bool", REQUIRED),
]
PROCESS_ATTRIBUTES = [
    ("Pid", "unsignedInt", REQUIRED), ("ParentPid", "unsignedInt", REQUIRED),
    ("ModuleRefId", "ModuleRefId", REQUIRED), ("User", "string", REQUIRED),
    ("Cmd", "string", REQUIRED), ("Created", "Time", REQUIRED), ("CpuTime", "Duration", REQUIRED),
    ("Elevated", "Bool", REQUIRED), ("UacVirtualization", "Bool", REQUIRED),
]
REFERENCE_ATTRIBUTES = [("ModuleRefId", "ModuleRefId", REQUIRED)]
AUTORUN_ATTRIBUTES = [("ModuleRefId", "ModuleRefId", REQUIRED), ("Scope", "AutorunScope", REQUIRED),
                      ("Where", "string", OPTIONAL)]
OS_ATTRIBUTES = [
    ("MajorVer", "unsignedInt", REQUIRED), ("MinorVer", "unsignedInt", REQUIRED),
    ("BuildNumber", "unsignedInt", REQUIRED), ("ServicePackMajor", "unsignedShort", REQUIRED),
    ("ServicePackMinor", "unsignedShort", REQUIRED), ("SuiteMask", "unsignedShort", REQUIRED),
    ("IsServerR2", "Bool", REQUIRED), ("ProductType", "unsignedByte", REQUIRED),
    ("BitSystem", "BitSystem", REQUIRED),
]
CONNECTION_ATTRIBUTES = [("Name", "string", REQUIRED), ("Type", "unsignedLong", REQUIRED),
                         ("IPv4", "string", REQUIRED), ("IPv6", "string", REQUIRED)]

# Element path -> its attributes as (name, type, required), in the order the scanner writes them.
ATTRIBUTES = {
    "AptReport": [("skipGac", "Bool", REQUIRED)],
    "AptReport/Computer": [("Name", "string", REQUIRED), ("SID", "string", REQUIRED)],
    "AptReport/Computer/OperatingSystem": OS_ATTRIBUTES,
    "AptReport/Computer/Connections": [],
    "AptReport/Computer/Connections/Connection": CONNECTION_ATTRIBUTES,
    "AptReport/Modules": [],
    "AptReport/Modules/Module": MODULE_ATTRIBUTES,
    "AptReport/Processes": [],
    "AptReport/Processes/Process": PROCESS_ATTRIBUTES,
    "AptReport/Processes/Process/Modules": [],
    "AptReport/Processes/Process/Modules/Module": REFERENCE_ATTRIBUTES,
    "AptReport/Drivers": [],
    "AptReport/Drivers/Driver": REFERENCE_ATTRIBUTES,
    "AptReport/Autoruns": [],
    "AptReport/Autoruns/Autorun": AUTORUN_ATTRIBUTES,
}
ATTRIBUTE_TYPES = {path: {name: kind for name, kind, _ in attrs} for path, attrs in ATTRIBUTES.items()}

VERDICTS = ("doesntexist", "safe", "malware", "unknown", "servererror", "error")
SIGNER_TRUSTS = ("doesntexist", "safe", "deleted", "error")
ANALYSIS_STATES = ("SkippedDetected", "SkippedMalware", "SkippedSafe", "Unexecutable", "Undefined",
                   "Analysing", "Undetected", "Suspicious", "SuspiciousP", "SuspiciousPP",
                   "SuspiciousClass", "SuspiciousFamily")
AUTORUN_SCOPES = ("Logon", "Explorer", "IE", "TaskScheduler", "Services", "Drivers", "Codecs",
                  "Bootexecute", "Imagehijacks", "Appinit", "KnownDLLs", "Winlogon", "Winsock",
                  "Printmon", "LsaProviders", "NetworkProviders", "Sidebar", "")

_INTEGER = re.compile(r"[+-]?\d+\Z")
_TIME = re.compile(r"\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z\Z")
_DURATION = re.compile(r"-?(0|[1-9]\d*)T([01]\d|2[0-3]):[0-5]\d:[0-5]\d\Z")
_SHA1 = re.compile(r"[0-9A-F]{40}\Z")


def _integer(low, high, what):
    def check(text):
        if not _INTEGER.match(text) or not low <= int(text) <= high:
            return what
        return None
    return check


def _choice(values, what):
    allowed = frozenset(values)
    return lambda text: None if text in allowed else what


_DAYS = (31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31)


def _time(text):
    if _TIME.match(text):
        year, month, day = int(text[0:4]), int(text[5:7]), int(text[8:10])
        hour, minute, second = int(text[11:13]), int(text[14:16]), int(text[17:19])
        if (year > 0 and 1 <= month <= 12 and 1 <= day <= _DAYS[month - 1]
                and (month != 2 or day < 29 or _leap(year))
                and hour < 24 and minute < 60 and second < 60):
            return None
    return "a time like 2016-03-01T09:05:07Z"


def _leap(year):
    return year % 4 == 0 and (year % 100 != 0 or year % 400 == 0)


# Type -> check returning None for a good value or what the value should have been.
CHECKS = {
    "string": lambda text: None,
    "Bool": _choice(("true", "false"), "true or false"),
    "Time": _time,
    "Duration": lambda text: None if _DURATION.match(text) else "a duration like 1T01:01:01",
    "Sha1": lambda text: None if _SHA1.match(text) else "40 upper-case hexadecimal digits",
    "ModuleId": _integer(1, 2 ** 31 - 1, "a module Id from 1 to 2147483647"),
    "ModuleRefId": _integer(0, 2 ** 31 - 1, "a module reference from 0 to 2147483647"),
    "unsignedByte": _integer(0, 2 ** 8 - 1, "a number from 0 to 255"),
    "unsignedShort": _integer(0, 2 ** 16 - 1, "a number from 0 to 65535"),
    "unsignedInt": _integer(0, 2 ** 32 - 1, "a number from 0 to 4294967295"),
    "unsignedLong": _integer(0, 2 ** 64 - 1, "a number from 0 to 18446744073709551615"),
    "BitSystem": _choice(("32", "64"), "32 or 64"),
    "Verdict": _choice(VERDICTS, "one of " + ", ".join(VERDICTS)),
    "SignerTrust": _choice(SIGNER_TRUSTS, "one of " + ", ".join(SIGNER_TRUSTS)),
    "AnalysisState": _choice(ANALYSIS_STATES, "an analysis state name"),
    "AutorunScope": _choice(AUTORUN_SCOPES, "an autorun category name or nothing"),
}

# Types whose values XML collapses white space in before they are checked.
_COLLAPSED = frozenset(CHECKS) - {"string"}
_NUMERIC = frozenset(("ModuleId", "ModuleRefId", "unsignedByte", "unsignedShort", "unsignedInt",
                      "unsignedLong", "BitSystem"))


def normal_value(kind, text):
    """The attribute's text as the schema reads it (white space collapsed for non-text types)."""
    return text.strip(" \t\r\n") if kind in _COLLAPSED else text


def check_value(kind, text):
    """None when `text` is a good value of `kind`, else what it should have been."""
    return CHECKS[kind](normal_value(kind, text))


def typed_value(kind, text):
    """The attribute as a JSON value: numbers as numbers, true/false as booleans, else text."""
    if text is None:
        return None
    text = normal_value(kind, text)
    if kind in _NUMERIC:
        return int(text)
    if kind == "Bool":
        return text == "true"
    return text
