-- The register's file. Column order matters in client: idFam is the third column.
CREATE TABLE client (
    idnom    INTEGER PRIMARY KEY AUTOINCREMENT,
    kont     TEXT,
    idFam    TEXT,
    pol      TEXT,
    datebir  TEXT,
    phone    TEXT,
    sorp     TEXT,
    PhotoN   TEXT,
    idFamKey TEXT -- idFam case-folded by the program: the sort and search key
);
CREATE INDEX client_idFamKey ON client (idFamKey);

CREATE TABLE vrYZD (
    IDvrachYZD INTEGER PRIMARY KEY AUTOINCREMENT,
    yzdID      INTEGER,
    vrachYZD   TEXT,
    name1      TEXT,
    Photo1     BLOB -- the picture file's bytes, unchanged
);

-- COUNT(kont) kept current by the engine itself, so counting a million parts is instant
-- and still exact after any change, also one made with other tools.
CREATE TABLE clientKontCount (n INTEGER NOT NULL);
INSERT INTO clientKontCount (n) VALUES (0);
CREATE TRIGGER client_kont_insert AFTER INSERT ON client WHEN NEW.kont IS NOT NULL
BEGIN
    UPDATE clientKontCount SET n = n + 1;
END;
CREATE TRIGGER client_kont_delete AFTER DELETE ON client WHEN OLD.kont IS NOT NULL
BEGIN
    UPDATE clientKontCount SET n = n - 1;
END;
CREATE TRIGGER client_kont_update AFTER UPDATE OF kont ON client
BEGIN
    UPDATE clientKontCount SET n = n + (NEW.kont IS NOT NULL) - (OLD.kont IS NOT NULL);
END;

-- Counts every change to the parts' names, by anyone, so that the program's in-memory copy
-- of the names can tell its own changes from other writers'.
CREATE TABLE clientNameChanges (n INTEGER NOT NULL);
INSERT INTO clientNameChanges (n) VALUES (0);
CREATE TRIGGER client_name_changes_insert AFTER INSERT ON client
BEGIN
    UPDATE clientNameChanges SET n = n + 1;
END;
CREATE TRIGGER client_name_changes_delete AFTER DELETE ON client
BEGIN
    UPDATE clientNameChanges SET n = n + 1;
END;
CREATE TRIGGER client_name_changes_update AFTER UPDATE ON client
    WHEN NEW.idFamKey IS NOT OLD.idFamKey OR NEW.idFam IS NOT OLD.idFam
        OR NEW.rowid IS NOT OLD.rowid
BEGIN
    UPDATE clientNameChanges SET n = n + 1;
END;
