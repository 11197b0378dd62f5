-- Added to every register the program writes, beside the tables of schema.sql, which stay
-- as they were: earlier builds and the sqlite3 shell still read and write the file. Only
-- built-in functions, so the triggers run under any tool.

-- A part's minimum stock; no row: none. Removed with its part.
CREATE TABLE IF NOT EXISTS partMinimum (
    idnom   INTEGER PRIMARY KEY,
    minimum INTEGER
);

-- Every change to a part, one entry per changed field, written by the triggers in the
-- changing statement's own transaction, whoever makes it. An add and a delete put down every
-- field the row holds, so that a deleted part can be put back whole.
CREATE TABLE IF NOT EXISTS partJournal (
    entry     INTEGER PRIMARY KEY AUTOINCREMENT,
    changedAt TEXT NOT NULL, -- UTC, ISO 8601
    computer  TEXT,
    login     TEXT,
    outside   INTEGER NOT NULL, -- 1: not made by the program (no context row)
    action    TEXT NOT NULL,    -- add edit plus minus notes delete undo minimum
    operation TEXT NOT NULL,    -- what the statement did to the row: add edit delete
    part      INTEGER NOT NULL,
    name      TEXT,             -- the part's name at the time
    nameKey   TEXT,             -- its idFamKey at the time, for the search over names
    field     TEXT NOT NULL,
    was,
    became
);
CREATE INDEX IF NOT EXISTS partJournal_part ON partJournal (part, entry);

-- Each part's names in the journal: one row for every key at the time the part's entries
-- hold, and the name itself only for entries without a key. Derived from partJournal alone,
-- kept by its triggers, so that a search over names looks at about as many rows as there are
-- parts rather than at every entry, and only then at the entries of the parts it found.
CREATE TABLE IF NOT EXISTS partJournalNames (
    part    INTEGER NOT NULL,
    nameKey TEXT,
    name    TEXT
);
CREATE UNIQUE INDEX IF NOT EXISTS partJournalNames_pair
    ON partJournalNames (part, coalesce(nameKey, ''), coalesce(name, ''));

-- What the program is doing: one row, written inside its write transaction before the
-- statement and removed before the commit, so that no other connection ever sees it. A
-- change without it was made by another program. Not TEMP: triggers cannot read temp tables.
CREATE TABLE IF NOT EXISTS journalContext (
    session  INTEGER PRIMARY KEY,
    computer TEXT,
    login    TEXT,
    action   TEXT NOT NULL
);
