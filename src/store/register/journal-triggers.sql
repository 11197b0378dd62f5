-- The journal's triggers on the file (journal-tables.sql). kont and idFamKey are derived
-- from the name: an edit does not list them as changes of their own. Empty and NULL look
-- alike to the user: neither is a value an add or a delete puts down, and a change from one
-- to the other is none.

CREATE TRIGGER IF NOT EXISTS client_journal_insert AFTER INSERT ON client
BEGIN
    INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name, nameKey,
                             field, was, became)
    SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), c.computer, c.login, c.session IS NULL,
           coalesce(c.action, 'add'), 'add', NEW.idnom, NEW.idFam, NEW.idFamKey, f.field, NULL, f.value
    FROM (SELECT 'idFam' AS field, NEW.idFam AS value UNION ALL SELECT 'kont', NEW.kont
          UNION ALL SELECT 'pol', NEW.pol UNION ALL SELECT 'datebir', NEW.datebir
          UNION ALL SELECT 'phone', NEW.phone UNION ALL SELECT 'sorp', NEW.sorp
          UNION ALL SELECT 'PhotoN', NEW.PhotoN) AS f
    LEFT JOIN journalContext AS c ON c.session = 0
    WHERE f.value <> '';
END;

CREATE TRIGGER IF NOT EXISTS client_journal_update AFTER UPDATE ON client
BEGIN
    INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name, nameKey,
                             field, was, became)
    SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), c.computer, c.login, c.session IS NULL,
           coalesce(c.action, 'edit'), 'edit', NEW.idnom, NEW.idFam, NEW.idFamKey, f.field, f.was,
           f.became
    FROM (SELECT 'idFam' AS field, OLD.idFam AS was, NEW.idFam AS became
          UNION ALL SELECT 'pol', OLD.pol, NEW.pol
          UNION ALL SELECT 'datebir', OLD.datebir, NEW.datebir
          UNION ALL SELECT 'phone', OLD.phone, NEW.phone
          UNION ALL SELECT 'sorp', OLD.sorp, NEW.sorp
          UNION ALL SELECT 'PhotoN', OLD.PhotoN, NEW.PhotoN) AS f
    LEFT JOIN journalContext AS c ON c.session = 0
    WHERE coalesce(f.was, '') IS NOT coalesce(f.became, '');
END;

CREATE TRIGGER IF NOT EXISTS client_journal_delete AFTER DELETE ON client
BEGIN
    INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name, nameKey,
                             field, was, became)
    SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), c.computer, c.login, c.session IS NULL,
           coalesce(c.action, 'delete'), 'delete', OLD.idnom, OLD.idFam, OLD.idFamKey, f.field, f.value,
           NULL
    FROM (SELECT 'idFam' AS field, OLD.idFam AS value UNION ALL SELECT 'kont', OLD.kont
          UNION ALL SELECT 'pol', OLD.pol UNION ALL SELECT 'datebir', OLD.datebir
          UNION ALL SELECT 'phone', OLD.phone UNION ALL SELECT 'sorp', OLD.sorp
          UNION ALL SELECT 'PhotoN', OLD.PhotoN) AS f
    LEFT JOIN journalContext AS c ON c.session = 0
    WHERE f.value <> '';
    -- The minimum goes with its part; its own trigger puts it down in the journal.
    DELETE FROM partMinimum WHERE idnom = OLD.idnom;
END;

-- The minimum's changes, as the field "minimum" of its part. Removed with its part, the
-- part's row is gone: its name is then the one its last entry holds.
CREATE TRIGGER IF NOT EXISTS partMinimum_journal_insert AFTER INSERT ON partMinimum
BEGIN
    INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name, nameKey,
                             field, was, became)
    SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), c.computer, c.login, c.session IS NULL,
           coalesce(c.action, 'minimum'), 'edit', NEW.idnom, p.idFam, p.idFamKey, 'minimum', NULL,
           NEW.minimum
    FROM (SELECT 1) LEFT JOIN client AS p ON p.idnom = NEW.idnom
    LEFT JOIN journalContext AS c ON c.session = 0
    WHERE NEW.minimum IS NOT NULL;
END;

CREATE TRIGGER IF NOT EXISTS partMinimum_journal_update AFTER UPDATE ON partMinimum
    WHEN NEW.minimum IS NOT OLD.minimum OR NEW.idnom IS NOT OLD.idnom
BEGIN
    INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name, nameKey,
                             field, was, became)
    SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), c.computer, c.login, c.session IS NULL,
           coalesce(c.action, 'minimum'), 'edit', NEW.idnom, p.idFam, p.idFamKey, 'minimum',
           OLD.minimum, NEW.minimum
    FROM (SELECT 1) LEFT JOIN client AS p ON p.idnom = NEW.idnom
    LEFT JOIN journalContext AS c ON c.session = 0;
END;

CREATE TRIGGER IF NOT EXISTS partMinimum_journal_delete AFTER DELETE ON partMinimum
    WHEN OLD.minimum IS NOT NULL
BEGIN
    INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name, nameKey,
                             field, was, became)
    SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now'), c.computer, c.login, c.session IS NULL,
           coalesce(c.action, CASE WHEN p.idnom IS NULL THEN 'delete' ELSE 'minimum' END),
           CASE WHEN p.idnom IS NULL THEN 'delete' ELSE 'edit' END, OLD.idnom, coalesce(p.idFam, j.name), coalesce(p.idFamKey, j.nameKey), 'minimum',
           OLD.minimum, NULL
    FROM (SELECT 1) LEFT JOIN client AS p ON p.idnom = OLD.idnom
    LEFT JOIN (SELECT name, nameKey FROM partJournal WHERE part = OLD.idnom
               ORDER BY entry DESC LIMIT 1) AS j
    LEFT JOIN journalContext AS c ON c.session = 0;
END;

-- Each entry's part and key at the time (its name where it has none) are in
-- partJournalNames, however the entry came: a row's new key or name goes in too, so that the
-- names a search looks at are never fewer than the entries hold.
CREATE TRIGGER IF NOT EXISTS partJournal_names_insert AFTER INSERT ON partJournal
BEGIN
    INSERT INTO partJournalNames (part, nameKey, name)
    SELECT NEW.part, NEW.nameKey, CASE WHEN NEW.nameKey IS NULL THEN NEW.name END
    WHERE NOT EXISTS (SELECT 1 FROM partJournalNames
                      WHERE part = NEW.part AND coalesce(nameKey, '') = coalesce(NEW.nameKey, '')
                        AND coalesce(name, '') = CASE WHEN NEW.nameKey IS NULL
                                                      THEN coalesce(NEW.name, '') ELSE '' END);
END;

CREATE TRIGGER IF NOT EXISTS partJournal_names_update AFTER UPDATE OF part, name, nameKey ON partJournal
BEGIN
    INSERT INTO partJournalNames (part, nameKey, name)
    SELECT NEW.part, NEW.nameKey, CASE WHEN NEW.nameKey IS NULL THEN NEW.name END
    WHERE NOT EXISTS (SELECT 1 FROM partJournalNames
                      WHERE part = NEW.part AND coalesce(nameKey, '') = coalesce(NEW.nameKey, '')
                        AND coalesce(name, '') = CASE WHEN NEW.nameKey IS NULL
                                                      THEN coalesce(NEW.name, '') ELSE '' END);
END;

-- A journal written before partJournalNames, or copied in before the triggers: its names.
INSERT OR IGNORE INTO partJournalNames (part, nameKey, name)
SELECT DISTINCT part, nameKey, CASE WHEN nameKey IS NULL THEN name END FROM partJournal;
