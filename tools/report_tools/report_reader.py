"""Streams an AptReport: parses it in chunks with expat, checks every element and attribute against
the tables of report_schema, and hands out one record at a time, so that a report of any size is
read in bounded memory. Where xmllint is installed the report is also validated against the
report schema before it is read."""
import os
import shutil
import subprocess
from xml.parsers import expat

import report_schema
from tool_errors import InputError

_CHUNK = 1 << 16
DEFAULT_SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "schema",
                              "AptReport.xsd")

# Kinds of record, handed out in document order.
REPORT, COMPUTER, MODULE, PROCESS, DRIVER, AUTORUN = (
    "report", "computer", "module", "process", "driver", "autorun")
ALL_KINDS = frozenset((REPORT, COMPUTER, MODULE, PROCESS, DRIVER, AUTORUN))

# Element path -> the kind of record it starts.
_RECORD_PATHS = {
    "AptReport/Modules/Module": MODULE,
    "AptReport/Drivers/Driver": DRIVER,
    "AptReport/Autoruns/Autorun": AUTORUN,
}


class _Reject(Exception):
    pass


class _Element:
    __slots__ = ("path", "model", "position", "count")

    def __init__(self, path):
        self.path = path
        self.model = report_schema.CHILDREN[path]
        self.position = 0
        self.count = 0

    def accept_child(self, tag):
        """Moves along the content model to `tag`; the text of the fault when it may not come."""
        model = self.model
        while self.position < len(model):
            name, least, most = model[self.position]
            if name == tag:
                if most is not None and self.count >= most:
                    return "a second %s" % tag
                self.count += 1
                return None
            if self.count < least:
                return "%s where %s must come" % (tag, name)
            self.position += 1
            self.count = 0
        return "%s, which may not stand there" % tag

    def missing_child(self):
        for index in range(self.position, len(self.model)):
            name, least, _ = self.model[index]
            have = self.count if index == self.position else 0
            if have < least:
                return name
        return None


class _Parser:
    def __init__(self, kinds):
        self.kinds = kinds
        self.out = []
        self.stack = []
        self.module_ids = set()
        self.pids = set()
        self.known = {kind: set() for kind in report_schema.CHECKS}
        self.computer = None
        self.process = None
        self.parser = expat.ParserCreate()
        self.parser.buffer_text = True
        self.parser.StartElementHandler = self.start
        self.parser.EndElementHandler = self.end
        self.parser.CharacterDataHandler = self.text
        self.parser.StartDoctypeDeclHandler = self.doctype
        self.parser.EntityDeclHandler = self.doctype

    def doctype(self, *args):
        raise _Reject("a document type declaration, which no report has")

    def text(self, data):
        if data.strip(" \t\r\n"):
            where = self.stack[-1].path.rsplit("/", 1)[-1] if self.stack else "the document"
            raise _Reject("text inside %s" % where)

    def start(self, tag, attrs):
        if self.stack:
            parent = self.stack[-1]
            fault = parent.accept_child(tag)
            if fault:
                raise _Reject("%s holds %s" % (parent.path.rsplit("/", 1)[-1], fault))
            path = parent.path + "/" + tag
        elif tag == "AptReport":
            path = tag
        else:
            raise _Reject("the root element is %s, not AptReport" % tag)
        self.stack.append(_Element(path))
        fields = self.check_attributes(path, tag, attrs)

        kind = _RECORD_PATHS.get(path)
        if kind:
            if kind == MODULE:
                self.unique(self.module_ids, fields["Id"], "Module Id")
            if kind in self.kinds:
                self.out.append((kind, fields))
        elif path == "AptReport/Processes/Process/Modules/Module":
            self.process["Modules"].append(int(fields["ModuleRefId"]))
        elif path == "AptReport/Processes/Process":
            self.unique(self.pids, fields["Pid"], "Process Pid")
            fields["Modules"] = []
            self.process = fields
        elif path == "AptReport":
            if REPORT in self.kinds:
                self.out.append((REPORT, fields))
        elif path == "AptReport/Computer":
            fields["OperatingSystem"] = None
            fields["Connections"] = []
            self.computer = fields
        elif path == "AptReport/Computer/OperatingSystem":
            self.computer["OperatingSystem"] = fields
        elif path == "AptReport/Computer/Connections/Connection":
            self.computer["Connections"].append(fields)

    def end(self, tag):
        element = self.stack.pop()
        missing = element.missing_child()
        if missing:
            raise _Reject("%s has no %s" % (tag, missing))
        if element.path == "AptReport/Processes/Process":
            if PROCESS in self.kinds:
                self.out.append((PROCESS, self.process))
            self.process = None
        elif element.path == "AptReport/Computer" and COMPUTER in self.kinds:
            self.out.append((COMPUTER, self.computer))

    @staticmethod
    def unique(seen, value, what):
        key = int(value)
        if key in seen:
            raise _Reject("a second %s %s" % (what, value))
        seen.add(key)

    def check_attributes(self, path, tag, attrs):
        types, required = _ATTRIBUTE_TYPES[path]
        known = self.known
        fields = attrs
        for name, value in attrs.items():
            kind = types.get(name)
            if kind is None:
                raise _Reject("%s has an attribute %s, which no report has" % (tag, name))
            if kind == "string" or value in known[kind]:
                continue
            wanted = report_schema.check_value(kind, value)
            if wanted:
                raise _Reject("%s %s is %r, not %s" % (tag, name, value, wanted))
            normal = report_schema.normal_value(kind, value)
            if normal != value:
                fields[name] = normal
            else:
                # values repeat a lot (verdicts, times, flags): check each once, within bounds
                if len(known[kind]) > 4096:
                    known[kind].clear()
                known[kind].add(value)
        if not required.issubset(attrs):
            missing = [name for name, _, needed in report_schema.ATTRIBUTES[path] if needed and name not in attrs]
            raise _Reject("%s has no %s" % (tag, missing[0]))
        return fields


# Element path -> (attribute name -> type, names of the required attributes)
_ATTRIBUTE_TYPES = {
    path: ({name: kind for name, kind, _ in attrs}, frozenset(name for name, _, needed in attrs if needed))
    for path, attrs in report_schema.ATTRIBUTES.items()
}


def read_records(path, kinds=ALL_KINDS):
    """Yields (kind, fields) for each record of the report at `path` whose kind is in `kinds`, in
    document order. Attribute values are the report's text (absent attributes are absent); a
    process carries its own module list as the integer list "Modules", the computer its
    "OperatingSystem" fields and its "Connections" list. Raises InputError for a report that is
    missing, unreadable, not well-formed or not of the report's form."""
    parser = _Parser(frozenset(kinds))
    try:
        stream = open(path, "rb")
    except OSError as error:
        raise InputError("%s: can't open the report: %s" % (path, error.strerror or error)) from None
    with stream:
        final = False
        while not final:
            try:
                chunk = stream.read(_CHUNK)
            except OSError as error:
                raise InputError("%s: can't read the report: %s" % (path, error.strerror or error)) from None
            final = not chunk
            try:
                parser.parser.Parse(chunk, final)
            except _Reject as fault:
                # the scanner writes the whole report on one line: the column finds the place
                raise InputError("%s: line %d, column %d: not a valid report: %s" % (
                    path, parser.parser.CurrentLineNumber, parser.parser.CurrentColumnNumber + 1,
                    fault)) from None
            except expat.ExpatError as error:
                reason = expat.ErrorString(error.code)
                if final and error.code in (expat.errors.codes[expat.errors.XML_ERROR_NO_ELEMENTS],
                                            expat.errors.codes[expat.errors.XML_ERROR_UNCLOSED_TOKEN]):
                    reason += "; the report is cut short"
                raise InputError("%s: line %d, column %d: not well-formed XML: %s" % (
                    path, error.lineno, error.offset + 1, reason)) from None
            if parser.out:
                yield from parser.out
                parser.out.clear()


def validate(path, schema=None):
    """Checks the report against the report schema with xmllint when both are there; raises
    InputError for a report that fails. Returns whether a schema check was made."""
    xmllint = shutil.which("xmllint")
    schema = schema or DEFAULT_SCHEMA
    if not xmllint or not os.path.isfile(schema):
        return False
    if not os.path.isfile(path):
        raise InputError("%s: can't open the report: No such file or directory" % path)
    process = subprocess.run([xmllint, "--noout", "--stream", "--schema", schema, path],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE)
    if process.returncode == 0:
        return True
    # Our own reader names faults of form more plainly; the schema's word is for the rest.
    for _ in read_records(path, ()):
        pass
    lines = process.stderr.decode("utf-8", "replace").splitlines()
    detail = lines[0] if lines else "xmllint exit status %d" % process.returncode
    if detail.startswith(path + ":"):
        detail = "line " + detail[len(path) + 1:]
    raise InputError("%s: does not match the report schema: %s" % (path, detail.strip()))


def open_report(path, kinds=ALL_KINDS, schema=None):
    """validate() and then read_records(): the records of a report that passed every check."""
    validate(path, schema)
    return read_records(path, kinds)
