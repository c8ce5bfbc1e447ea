"""Compares two reports of one machine: modules added, removed or changed (same path with another
SHA-1, verdict or signer), autorun entries added and removed, drivers and processes added.

Records are matched by what stays the same between two scans, never by Id: a module by its path
(letters A to Z without case, as the scanner keys files), an autorun entry by category, location
and file, a driver by its file, a process by its image and command line. One report's modules are
held as (path, SHA-1, verdict, signer) while the other streams past."""
import collections
import sys

import report_reader
from report_reader import AUTORUN, COMPUTER, DRIVER, MODULE, PROCESS

_FOLD = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")
Module = collections.namedtuple("Module", "Path Sha1 Cloud Signer")


def fold(path):
    return path.translate(_FOLD)


class _Snapshot:
    """What the diff needs of one report: modules by folded path, and the keys of its autoruns,
    drivers and processes as multisets (a key may occur more than once)."""

    def __init__(self, path, schema, validate):
        if validate:
            report_reader.validate(path, schema)
        self.computer = None
        self.modules = {}
        paths_by_id = {}
        self.autoruns = collections.Counter()
        self.drivers = collections.Counter()
        self.processes = collections.Counter()
        self.spelling = {}   # record key -> its file's path as the report spells it
        kinds = {COMPUTER, MODULE, PROCESS, DRIVER, AUTORUN}
        for kind, fields in report_reader.read_records(path, kinds):
            if kind == MODULE:
                # verdicts and signers repeat across thousands of modules: keep one copy of each
                module = Module(fields["Path"], fields["Sha1"], sys.intern(fields["Cloud"]),
                                sys.intern(fields.get("Signer", "")))
                self.modules[fold(module.Path)] = module
                paths_by_id[int(fields["Id"])] = module.Path
                continue
            if kind == COMPUTER:
                self.computer = fields["Name"]
                continue
            file = paths_by_id.get(int(fields["ModuleRefId"]), "")
            if kind == AUTORUN:
                self.autoruns[(fields["Scope"], fields.get("Where", ""), fold(file))] += 1
                self._shown(("autorun",) + (fields["Scope"], fields.get("Where", ""), fold(file)), file)
            elif kind == DRIVER:
                self.drivers[fold(file)] += 1
                self._shown(("driver", fold(file)), file)
            else:
                self.processes[(fold(file), fields["Cmd"])] += 1
                self._shown(("process", fold(file), fields["Cmd"]), file)

    def _shown(self, key, file):
        self.spelling.setdefault(key, file)


def _added(old, new):
    return sorted((new - old).elements())


def compare(old_path, new_path, schema=None, validate=True):
    """The differences as a dict of plain values (the --json form)."""
    old = _Snapshot(old_path, schema, validate)
    new = _Snapshot(new_path, schema, validate)
    spelling = dict(old.spelling)
    spelling.update(new.spelling)

    def file_of(key):
        return spelling.get(key, "")

    changed = []
    for key in sorted(set(old.modules) & set(new.modules)):
        before, after = old.modules[key], new.modules[key]
        changes = {}
        for field, name in (("Sha1", "sha1"), ("Cloud", "verdict"), ("Signer", "signer")):
            if getattr(before, field) != getattr(after, field):
                changes[name] = {"old": getattr(before, field), "new": getattr(after, field)}
        if changes:
            changed.append(dict(path=after.Path, **changes))

    def module_entry(module):
        return {"path": module.Path, "sha1": module.Sha1, "verdict": module.Cloud, "signer": module.Signer}

    def autorun_entry(key, report):
        scope, where, folded = key
        return {"category": scope, "location": where, "file": file_of(("autorun",) + key),
                "verdict": _verdict(report, folded)}

    return {
        "computer": {"old": old.computer, "new": new.computer},
        "modules": {
            "added": [module_entry(new.modules[key]) for key in sorted(set(new.modules) - set(old.modules))],
            "removed": [module_entry(old.modules[key]) for key in sorted(set(old.modules) - set(new.modules))],
            "changed": changed,
        },
        "autoruns": {
            "added": [autorun_entry(key, new) for key in _added(old.autoruns, new.autoruns)],
            "removed": [autorun_entry(key, old) for key in _added(new.autoruns, old.autoruns)],
        },
        "drivers": {
            "added": [{"file": file_of(("driver", key)), "verdict": _verdict(new, key)}
                      for key in _added(old.drivers, new.drivers)],
        },
        "processes": {
            "added": [{"file": file_of(("process",) + key), "cmd": key[1], "verdict": _verdict(new, key[0])}
                      for key in _added(old.processes, new.processes)],
        },
    }


def _verdict(snapshot, folded):
    module = snapshot.modules.get(folded)
    return module.Cloud if module else None


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
