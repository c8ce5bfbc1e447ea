"""Compares two reports of one machine: modules added, removed or changed (same path with another
SHA-1, verdict or signer), autorun entries added and removed, drivers and processes added.

Records are matched by what stays the same between two scans, never by Id: a module by its path
(letters A to Z without case, as the scanner keys files), an autorun entry by category, location
and file, a driver by its file, a process by its image and command line. Only the old report's
modules are held, as (path, SHA-1, verdict, signer); the new report's stream past them."""
import collections
import sys

import report_reader
import report_tables
from report_reader import AUTORUN, COMPUTER, DRIVER, MODULE, PROCESS

_FOLD = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")
Module = collections.namedtuple("Module", "Path Sha1 Cloud Signer")
_REFERRING = frozenset((PROCESS, DRIVER, AUTORUN))


def fold(path):
    return path.translate(_FOLD)


def _module(fields):
    # verdicts and signers repeat across thousands of modules: keep one copy of each
    return Module(fields["Path"], fields["Sha1"], sys.intern(fields["Cloud"]),
                  sys.intern(fields.get("Signer", "")))


class _Side:
    """One report's autoruns, drivers and processes as multisets of their keys (a key may occur
    more than once), each key with its file as the report spells it and the file's verdict."""

    def __init__(self):
        self.computer = None
        self.keys = {AUTORUN: collections.Counter(), DRIVER: collections.Counter(),
                     PROCESS: collections.Counter()}
        self.files = {}       # (kind, key) -> (path, verdict or None)
        self.referred = {}    # module Id -> Module, for the Ids these records refer to

    def add(self, kind, fields):
        module = self.referred.get(int(fields["ModuleRefId"]))
        path = module.Path if module else ""
        if kind == AUTORUN:
            key = (fields["Scope"], fields.get("Where", ""), fold(path))
        elif kind == DRIVER:
            key = fold(path)
        else:
            key = (fold(path), fields["Cmd"])
        self.keys[kind][key] += 1
        self.files.setdefault((kind, key), (path, module.Cloud if module else None))


def _records(path, side, on_module):
    """Reads one report into `side`, handing each module to `on_module`."""
    wanted = report_tables.referenced_ids(path, _REFERRING)
    for kind, fields in report_reader.read_records(path, {COMPUTER, MODULE} | _REFERRING):
        if kind == MODULE:
            module = _module(fields)
            module_id = int(fields["Id"])
            if module_id in wanted:
                side.referred[module_id] = module
            on_module(module)
        elif kind == COMPUTER:
            side.computer = fields["Name"]
        else:
            side.add(kind, fields)


def _added(old, new):
    return sorted((new - old).elements())


def _module_entry(module):
    return {"path": module.Path, "sha1": module.Sha1, "verdict": module.Cloud, "signer": module.Signer}


def compare(old_path, new_path, schema=None, validate=True):
    """The differences as a dict of plain values (the --json form)."""
    if validate:
        report_reader.validate(old_path, schema)
        report_reader.validate(new_path, schema)
    old, new = _Side(), _Side()
    old_modules = {}
    _records(old_path, old, lambda module: old_modules.__setitem__(fold(module.Path), module))

    added, changed = [], []

    def against_old(after):
        before = old_modules.pop(fold(after.Path), None)
        if before is None:
            added.append(after)
            return
        changes = {}
        for field, name in (("Sha1", "sha1"), ("Cloud", "verdict"), ("Signer", "signer")):
            if getattr(before, field) != getattr(after, field):
                changes[name] = {"old": getattr(before, field), "new": getattr(after, field)}
        if changes:
            changed.append(dict(path=after.Path, **changes))

    _records(new_path, new, against_old)

    def by_path(entry):
        return fold(entry["path"])

    def entries(kind, side, keys, make):
        return [make(key, *side.files[(kind, key)]) for key in keys]

    return {
        "computer": {"old": old.computer, "new": new.computer},
        "modules": {
            "added": sorted((_module_entry(module) for module in added), key=by_path),
            "removed": sorted((_module_entry(module) for module in old_modules.values()), key=by_path),
            "changed": sorted(changed, key=by_path),
        },
        "autoruns": {
            change: entries(AUTORUN, side, _added(*pair), lambda key, file, verdict: {
                "category": key[0], "location": key[1], "file": file, "verdict": verdict})
            for change, side, pair in (("added", new, (old.keys[AUTORUN], new.keys[AUTORUN])),
                                       ("removed", old, (new.keys[AUTORUN], old.keys[AUTORUN])))
        },
        "drivers": {
            "added": entries(DRIVER, new, _added(old.keys[DRIVER], new.keys[DRIVER]),
                             lambda key, file, verdict: {"file": file, "verdict": verdict}),
        },
        "processes": {
            "added": entries(PROCESS, new, _added(old.keys[PROCESS], new.keys[PROCESS]),
                             lambda key, file, verdict: {"file": file, "cmd": key[1], "verdict": verdict}),
        },
    }


def _described(entry):
    facts = [entry["verdict"] or "no file"]
    if entry.get("signer"):
        facts.append('signer "%s"' % entry["signer"])
    return ", ".join(facts)


def text_lines(diff):
    """The differences as lines for a person: a heading per kind of record, then one line per
    record marked + (added), - (removed) or ~ (changed)."""
    lines = []
    names = diff["computer"]
    if names["old"] != names["new"]:
        lines.append('note: the reports name different computers: "%s" and "%s"' % (names["old"], names["new"]))
    modules = diff["modules"]
    lines.append("modules: %d added, %d removed, %d changed" % (
        len(modules["added"]), len(modules["removed"]), len(modules["changed"])))
    for entry in modules["added"]:
        lines.append("+ %s (%s, sha1 %s)" % (entry["path"], _described(entry), entry["sha1"]))
    for entry in modules["removed"]:
        lines.append("- %s (%s, sha1 %s)" % (entry["path"], _described(entry), entry["sha1"]))
    for entry in modules["changed"]:
        parts = []
        for name in ("sha1", "verdict", "signer"):
            if name in entry:
                change = entry[name]
                if name == "signer":
                    parts.append('signer "%s" -> "%s"' % (change["old"], change["new"]))
                else:
                    parts.append("%s %s -> %s" % (name, change["old"], change["new"]))
        lines.append("~ %s: %s" % (entry["path"], "; ".join(parts)))
    autoruns = diff["autoruns"]
    lines.append("autoruns: %d added, %d removed" % (len(autoruns["added"]), len(autoruns["removed"])))
    for mark, entries in (("+", autoruns["added"]), ("-", autoruns["removed"])):
        for entry in entries:
            lines.append("%s %s %s -> %s (%s)" % (
                mark, entry["category"] or "(no category)", entry["location"] or "(no location)",
                entry["file"] or "(no file)", entry["verdict"] or "no file"))
    drivers = diff["drivers"]["added"]
    lines.append("drivers: %d added" % len(drivers))
    for entry in drivers:
        lines.append("+ %s (%s)" % (entry["file"] or "(no file)", entry["verdict"] or "no file"))
    processes = diff["processes"]["added"]
    lines.append("processes: %d added" % len(processes))
    for entry in processes:
        lines.append("+ %s [%s] (%s)" % (entry["file"] or "(no file)", entry["cmd"],
                                         entry["verdict"] or "no file"))
    return lines
