"""The report as four flat tables (modules, processes, drivers, autoruns): one row per element,
with the fields of the module it refers to joined in under "Module." names. Column names are
fixed, whatever the report holds, so that a spreadsheet or a log pipeline can rely on them.

Joining needs the referred modules while the later sections are read, but the Modules section
comes first; so a first pass collects the Ids that processes, drivers and autoruns refer to, and
the second keeps only those modules. Memory grows with the number of references, not of modules."""
import report_reader
import report_schema
from report_reader import AUTORUN, DRIVER, MODULE, PROCESS

MODULE_COLUMNS = [name for name, _, _ in report_schema.MODULE_ATTRIBUTES]
JOINED_COLUMNS = ["Module." + name for name in MODULE_COLUMNS if name != "Id"]
PROCESS_COLUMNS = [name for name, _, _ in report_schema.PROCESS_ATTRIBUTES] + ["Modules"] + JOINED_COLUMNS
DRIVER_COLUMNS = ["ModuleRefId"] + JOINED_COLUMNS
AUTORUN_COLUMNS = [name for name, _, _ in report_schema.AUTORUN_ATTRIBUTES] + JOINED_COLUMNS

TABLES = {
    "modules": (MODULE, MODULE_COLUMNS),
    "processes": (PROCESS, PROCESS_COLUMNS),
    "drivers": (DRIVER, DRIVER_COLUMNS),
    "autoruns": (AUTORUN, AUTORUN_COLUMNS),
}
TABLE_OF_KIND = {kind: name for name, (kind, _) in TABLES.items()}

_PATH_OF_KIND = {
    MODULE: "AptReport/Modules/Module",
    PROCESS: "AptReport/Processes/Process",
    DRIVER: "AptReport/Drivers/Driver",
    AUTORUN: "AptReport/Autoruns/Autorun",
}
_MODULE_TYPES = report_schema.ATTRIBUTE_TYPES["AptReport/Modules/Module"]


def column_type(kind, column):
    """The schema type of a table column ("ModuleRefIds" for a process's own module list)."""
    if column.startswith("Module."):
        return _MODULE_TYPES[column[len("Module."):]]
    if kind == PROCESS and column == "Modules":
        return "ModuleRefIds"
    return report_schema.ATTRIBUTE_TYPES[_PATH_OF_KIND[kind]][column]


def referenced_ids(path, kinds):
    """The module Ids that the records of `kinds` (processes' main images, drivers, autoruns)
    refer to."""
    ids = set()
    for _, fields in report_reader.read_records(path, kinds):
        ids.add(int(fields["ModuleRefId"]))
    ids.discard(0)
    return ids


def joined_records(path, kinds, schema=None, validate=True):
    """Yields (kind, fields) like report_reader.read_records for the report, plus ("module", ...)
    records always, where each process, driver and autorun record carries its module's fields
    (or None) under "module". Only referred modules are kept in memory."""
    if validate:
        report_reader.validate(path, schema)
    kinds = frozenset(kinds)
    joined_kinds = kinds & {PROCESS, DRIVER, AUTORUN}
    wanted = referenced_ids(path, joined_kinds) if joined_kinds else set()
    modules = {}
    for kind, fields in report_reader.read_records(path, kinds | {MODULE}):
        if kind == MODULE:
            module_id = int(fields["Id"])
            if module_id in wanted:
                modules[module_id] = fields
            if MODULE not in kinds:
                continue
        elif kind in joined_kinds:
            fields["module"] = modules.get(int(fields["ModuleRefId"]))
        yield kind, fields


def row(kind, fields):
    """The record as a dict of every column of its table; an absent value is None."""
    columns = TABLES[TABLE_OF_KIND[kind]][1]
    module = fields.get("module")
    out = {}
    for column in columns:
        if column.startswith("Module."):
            out[column] = module.get(column[len("Module."):]) if module else None
        elif column == "Modules" and kind == PROCESS:
            out[column] = list(fields["Modules"])
        else:
            out[column] = fields.get(column)
    return out


def typed_row(kind, fields):
    """row() with JSON values: numbers, booleans, text, lists of module Ids, None when absent."""
    out = row(kind, fields)
    for column, value in out.items():
        kind_of_column = column_type(kind, column)
        if kind_of_column != "ModuleRefIds":
            out[column] = report_schema.typed_value(kind_of_column, value)
    return out

