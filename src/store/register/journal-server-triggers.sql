-- The file's journal-triggers.sql on a PostgreSQL server. CREATE OR REPLACE: safe to run
-- again. Each function stands aside in a session restoring the register (server-functions.sql).

CREATE OR REPLACE FUNCTION tarvik_client_journal() RETURNS trigger LANGUAGE plpgsql
SET search_path FROM CURRENT AS $$
DECLARE
    c journalContext%ROWTYPE;
    stamp text := to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"');
BEGIN
    IF current_setting('tarvik.restoring', true) = 'on' THEN
        RETURN NULL; -- a restore puts the copy's journal in place itself
    END IF;
    SELECT * INTO c FROM journalContext WHERE session = pg_backend_pid();
    IF TG_OP = 'INSERT' THEN
        INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name,
                                 nameKey, field, was, became)
        SELECT stamp, c.computer, c.login, (c.session IS NULL)::int, coalesce(c.action, 'add'),
               'add', NEW.idnom, NEW.idFam, NEW.idFamKey, f.field, NULL, f.value
        FROM (VALUES (1, 'idFam', NEW.idFam), (2, 'kont', NEW.kont), (3, 'pol', NEW.pol),
                     (4, 'datebir', NEW.datebir), (5, 'phone', NEW.phone),
                     (6, 'sorp', NEW.sorp), (7, 'PhotoN', NEW.PhotoN)) AS f(n, field, value)
        WHERE f.value <> '' ORDER BY f.n;
    ELSIF TG_OP = 'UPDATE' THEN
        INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name,
                                 nameKey, field, was, became)
        SELECT stamp, c.computer, c.login, (c.session IS NULL)::int, coalesce(c.action, 'edit'),
               'edit', NEW.idnom, NEW.idFam, NEW.idFamKey, f.field, f.was, f.became
        FROM (VALUES (1, 'idFam', OLD.idFam, NEW.idFam), (2, 'pol', OLD.pol, NEW.pol),
                     (3, 'datebir', OLD.datebir, NEW.datebir),
                     (4, 'phone', OLD.phone, NEW.phone), (5, 'sorp', OLD.sorp, NEW.sorp),
                     (6, 'PhotoN', OLD.PhotoN, NEW.PhotoN)) AS f(n, field, was, became)
        WHERE coalesce(f.was, '') IS DISTINCT FROM coalesce(f.became, '') ORDER BY f.n;
    ELSE
        INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name,
                                 nameKey, field, was, became)
        SELECT stamp, c.computer, c.login, (c.session IS NULL)::int,
               coalesce(c.action, 'delete'), 'delete', OLD.idnom, OLD.idFam, OLD.idFamKey, f.field,
               f.value, NULL
        FROM (VALUES (1, 'idFam', OLD.idFam), (2, 'kont', OLD.kont), (3, 'pol', OLD.pol),
                     (4, 'datebir', OLD.datebir), (5, 'phone', OLD.phone),
                     (6, 'sorp', OLD.sorp), (7, 'PhotoN', OLD.PhotoN)) AS f(n, field, value)
        WHERE f.value <> '' ORDER BY f.n;
        DELETE FROM partMinimum WHERE idnom = OLD.idnom;
    END IF;
    RETURN NULL;
END $$;
CREATE OR REPLACE TRIGGER client_journal AFTER INSERT OR UPDATE OR DELETE ON client
    FOR EACH ROW EXECUTE FUNCTION tarvik_client_journal();

CREATE OR REPLACE FUNCTION tarvik_minimum_journal() RETURNS trigger LANGUAGE plpgsql
SET search_path FROM CURRENT AS $$
DECLARE
    c journalContext%ROWTYPE;
    stamp text := to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"');
    id bigint;
    oldMinimum bigint;
    newMinimum bigint;
    partName text;
    partKey text;
    present boolean;
BEGIN
    IF current_setting('tarvik.restoring', true) = 'on' THEN
        RETURN NULL; -- a restore puts the copy's journal in place itself
    END IF;
    IF TG_OP <> 'INSERT' THEN
        id := OLD.idnom;
        oldMinimum := OLD.minimum;
    END IF;
    IF TG_OP <> 'DELETE' THEN
        id := NEW.idnom;
        newMinimum := NEW.minimum;
    END IF;
    IF oldMinimum IS NOT DISTINCT FROM newMinimum THEN
        RETURN NULL;
    END IF;
    SELECT * INTO c FROM journalContext WHERE session = pg_backend_pid();
    SELECT idFam, idFamKey INTO partName, partKey FROM client WHERE idnom = id;
    present := FOUND;
    IF NOT present THEN
        SELECT name, nameKey INTO partName, partKey FROM partJournal WHERE part = id
            ORDER BY entry DESC LIMIT 1;
    END IF;
    INSERT INTO partJournal (changedAt, computer, login, outside, action, operation, part, name, nameKey,
                             field, was, became)
    VALUES (stamp, c.computer, c.login, (c.session IS NULL)::int,
            coalesce(c.action, CASE WHEN present THEN 'minimum' ELSE 'delete' END),
            CASE WHEN present THEN 'edit' ELSE 'delete' END, id,
            partName, partKey, 'minimum', oldMinimum::text, newMinimum::text);
    -- The part's figures changed: other computers read it again.
    PERFORM pg_notify('tarvik_parts', id::text || ':' || pg_backend_pid());
    RETURN NULL;
END $$;
CREATE OR REPLACE TRIGGER partMinimum_journal AFTER INSERT OR UPDATE OR DELETE ON partMinimum
    FOR EACH ROW EXECUTE FUNCTION tarvik_minimum_journal();

-- The file's partJournal_names triggers: each statement's entries put down their parts' keys
-- (names where they have none) at once.
CREATE OR REPLACE FUNCTION tarvik_journal_names() RETURNS trigger LANGUAGE plpgsql
SET search_path FROM CURRENT AS $$
BEGIN
    IF current_setting('tarvik.restoring', true) = 'on' THEN
        RETURN NULL; -- a restore puts the copy's journal in place itself
    END IF;
    INSERT INTO partJournalNames (part, nameKey, name)
    SELECT DISTINCT part, nameKey, CASE WHEN nameKey IS NULL THEN name END FROM written
    ON CONFLICT DO NOTHING;
    RETURN NULL;
END $$;
CREATE OR REPLACE TRIGGER partJournal_names AFTER INSERT ON partJournal
    REFERENCING NEW TABLE AS written FOR EACH STATEMENT EXECUTE FUNCTION tarvik_journal_names();
CREATE OR REPLACE TRIGGER partJournal_names_update AFTER UPDATE ON partJournal
    REFERENCING NEW TABLE AS written FOR EACH STATEMENT EXECUTE FUNCTION tarvik_journal_names();

INSERT INTO partJournalNames (part, nameKey, name)
SELECT DISTINCT part, nameKey, CASE WHEN nameKey IS NULL THEN name END FROM partJournal
ON CONFLICT DO NOTHING;
