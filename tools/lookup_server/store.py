"""The lookup server's store: one SQLite file holding hash verdicts, vendor verdicts and the
sightings of every key asked.

Sightings are gathered in memory as requests arrive and written in one transaction per flush,
so answering never waits for the disk."""
import hashlib
import sqlite3
import time

SCHEMA_VERSION = 1

_SCHEMA = """
CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS hashes (
  key BLOB PRIMARY KEY, fls INTEGER NOT NULL, lumen INTEGER NOT NULL DEFAULT 0,
  aux INTEGER NOT NULL DEFAULT 0, date_ms INTEGER NOT NULL DEFAULT 0, source TEXT) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS vendors (
  key BLOB PRIMARY KEY, name TEXT NOT NULL, verdict INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sightings (
  kind INTEGER NOT NULL, key BLOB NOT NULL, first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL,
  times_asked INTEGER NOT NULL, PRIMARY KEY (kind, key)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sighting_sources (
  kind INTEGER NOT NULL, key BLOB NOT NULL, address TEXT NOT NULL,
  PRIMARY KEY (kind, key, address)) WITHOUT ROWID;
"""

UNKNOWN_HASH = (0, 0, 0, 0)  # "doesntexist"
UNKNOWN_VENDOR = 0


class StoreError(Exception):
    pass


def vendor_key(name):
    """The key a scanner sends for a signer: SHA-1 of the name's UTF-8 bytes."""
    return hashlib.sha1(name.encode("utf-8")).digest()


class Store:
    def __init__(self, path):
        self.path = path
        self.db = sqlite3.connect(path, isolation_level=None, check_same_thread=False)
        self.db.execute("PRAGMA journal_mode=WAL")
        self.db.execute("PRAGMA synchronous=NORMAL")
        version = self._version()
        if version is None:
            with self.transaction():
                for statement in _SCHEMA.strip().split(";"):
                    if statement.strip():
                        self.db.execute(statement)
                self.db.execute("INSERT OR REPLACE INTO meta VALUES ('schema_version', ?)", (str(SCHEMA_VERSION),))
        elif version != SCHEMA_VERSION:
            raise StoreError("%s has schema version %d; this server reads version %d" % (path, version, SCHEMA_VERSION))
        self._pending = {}  # (kind, key) -> [first, last, times, set of addresses]

    def _version(self):
        try:
            row = self.db.execute("SELECT value FROM meta WHERE name = 'schema_version'").fetchone()
        except sqlite3.DatabaseError as e:
            if "no such table" in str(e):
                return None
            raise StoreError("%s is not a lookup store: %s" % (self.path, e))
        return int(row[0]) if row else None

    def close(self):
        self.flush()
        self.db.close()

    def transaction(self):
        return _Transaction(self.db)

    # Answers -------------------------------------------------------------------------------
    def hash_verdicts(self, keys):
        """(fls, lumen, aux, date_ms) per key, in order; unknown keys answer "doesntexist"."""
        rows = dict((row[0], row[1:]) for row in self.db.execute(
            "SELECT key, fls, lumen, aux, date_ms FROM hashes WHERE key IN (%s)" % ",".join("?" * len(keys)), keys))
        return [rows.get(key, UNKNOWN_HASH) for key in keys]

    def vendor_verdicts(self, keys):
        rows = dict(self.db.execute(
            "SELECT key, verdict FROM vendors WHERE key IN (%s)" % ",".join("?" * len(keys)), keys))
        return [rows.get(key, UNKNOWN_VENDOR) for key in keys]

    def withdrawn_vendors(self):
        """Names of the vendors withdrawn from trust (verdict 2), in byte order."""
        return [row[0] for row in self.db.execute("SELECT name FROM vendors WHERE verdict = 2 ORDER BY name")]

    # Filling ---------------------------------------------------------------------------------
    def put_hashes(self, rows, source):
        """rows: (key, fls, lumen, aux, date_ms); one transaction, later rows win."""
        with self.transaction():
            self.db.executemany("INSERT OR REPLACE INTO hashes VALUES (?, ?, ?, ?, ?, ?)",
                                ((k, f, l, a, d, source) for k, f, l, a, d in rows))

    def put_vendors(self, rows):
        """rows: (name, verdict)."""
        with self.transaction():
            self.db.executemany("INSERT OR REPLACE INTO vendors VALUES (?, ?, ?)",
                                ((vendor_key(name), name, verdict) for name, verdict in rows))

    # Sightings -------------------------------------------------------------------------------
    def sight(self, kind, keys, address, now=None):
        now = int(time.time()) if now is None else now
        for key in keys:
            entry = self._pending.get((kind, key))
            if entry is None:
                self._pending[(kind, key)] = [now, now, 1, {address}]
            else:
                entry[1] = now
                entry[2] += 1
                entry[3].add(address)

    def flush(self):
        if not self._pending:
            return
        pending, self._pending = self._pending, {}
        with self.transaction():
            self.db.executemany(
                "INSERT INTO sightings VALUES (?, ?, ?, ?, ?) ON CONFLICT (kind, key) DO UPDATE SET "
                "first_seen = MIN(first_seen, excluded.first_seen), last_seen = MAX(last_seen, excluded.last_seen), "
                "times_asked = times_asked + excluded.times_asked",
                ((kind, key, e[0], e[1], e[2]) for (kind, key), e in pending.items()))
            self.db.executemany("INSERT OR IGNORE INTO sighting_sources VALUES (?, ?, ?)",
                                ((kind, key, a) for (kind, key), e in pending.items() for a in e[3]))

    def sighting(self, kind, key):
        """(first_seen, last_seen, times_asked, distinct sources) or None."""
        row = self.db.execute("SELECT first_seen, last_seen, times_asked FROM sightings WHERE kind = ? AND key = ?",
                              (kind, key)).fetchone()
        if row is None:
            return None
        sources = self.db.execute("SELECT COUNT(*) FROM sighting_sources WHERE kind = ? AND key = ?",
                                  (kind, key)).fetchone()[0]
        return row + (sources,)

    def unknown_hashes(self, limit=None):
        """Hashes asked that the store does not know, rarest first: fewest distinct sources, then
        fewest asks, then first seen. Rows: (key, sources, times_asked, first_seen, last_seen)."""
        sql = ("SELECT s.key, (SELECT COUNT(*) FROM sighting_sources c WHERE c.kind = s.kind AND c.key = s.key) AS n, "
               "s.times_asked, s.first_seen, s.last_seen FROM sightings s "
               "WHERE s.kind = 2 AND NOT EXISTS (SELECT 1 FROM hashes h WHERE h.key = s.key) "
               "ORDER BY n, s.times_asked, s.first_seen, s.key")
        if limit is not None:
            sql += " LIMIT %d" % int(limit)
        return self.db.execute(sql).fetchall()

    def counts(self):
        one = lambda sql: self.db.execute(sql).fetchone()[0]
        return {
            "hashes": one("SELECT COUNT(*) FROM hashes"),
            "vendors": one("SELECT COUNT(*) FROM vendors"),
            "sighted_hashes": one("SELECT COUNT(*) FROM sightings WHERE kind = 2"),
            "sighted_vendors": one("SELECT COUNT(*) FROM sightings WHERE kind = 5"),
            "unknown_hashes": one("SELECT COUNT(*) FROM sightings s WHERE kind = 2 AND NOT EXISTS "
                                  "(SELECT 1 FROM hashes h WHERE h.key = s.key)"),
        }

    def set_meta(self, name, value):
        with self.transaction():
            self.db.execute("INSERT OR REPLACE INTO meta VALUES (?, ?)", (name, str(value)))

    def get_meta(self, name, default=None):
        row = self.db.execute("SELECT value FROM meta WHERE name = ?", (name,)).fetchone()
        return row[0] if row else default


class _Transaction:
    def __init__(self, db):
        self.db = db

    def __enter__(self):
        self.db.execute("BEGIN IMMEDIATE")

    def __exit__(self, kind, value, traceback):
        self.db.execute("COMMIT" if kind is None else "ROLLBACK")
        return False
