-- The functions of the server's triggers that count, number and announce the parts and the
-- package types (server-triggers.sql creates the triggers). CREATE OR REPLACE: a register of
-- an earlier build gets them as they are now at its next open.
--
-- A session that restores the register from a copy sets tarvik.restoring for its
-- transaction: it puts every row in place itself, sets the counters once and announces one
-- change of everything, so these stand aside instead of working row by row. Any other session
-- has no such setting (NULL, or '' after a transaction that set it) and is served as always.

-- COUNT(kont), current after any change.
CREATE OR REPLACE FUNCTION tarvik_client_kont_count() RETURNS trigger LANGUAGE plpgsql
SET search_path FROM CURRENT AS $$
BEGIN
    IF current_setting('tarvik.restoring', true) = 'on' THEN
        RETURN NULL;
    END IF;
    IF TG_OP = 'TRUNCATE' THEN
        UPDATE clientKontCount SET n = 0;
    ELSIF TG_OP = 'INSERT' THEN
        UPDATE clientKontCount SET n = n + 1;
    ELSIF TG_OP = 'DELETE' THEN
        UPDATE clientKontCount SET n = n - 1;
    ELSE
        UPDATE clientKontCount
            SET n = n + (NEW.kont IS NOT NULL)::int - (OLD.kont IS NOT NULL)::int;
    END IF;
    RETURN NULL;
END $$;

-- Every change to the parts' names, by anyone.
CREATE OR REPLACE FUNCTION tarvik_client_name_changes() RETURNS trigger LANGUAGE plpgsql
SET search_path FROM CURRENT AS $$
BEGIN
    IF current_setting('tarvik.restoring', true) = 'on' THEN
        RETURN NULL;
    END IF;
    UPDATE clientNameChanges SET n = n + 1;
    RETURN NULL;
END $$;

-- Other computers listen: the changed part's number (empty after TRUNCATE) on tarvik_parts,
-- the changed package type's on tarvik_types, each followed by a colon and the writing
-- session's process number, by which a program tells its own changes from everyone else's.
-- The server sends them when the change commits.
CREATE OR REPLACE FUNCTION tarvik_notify_parts() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF current_setting('tarvik.restoring', true) = 'on' THEN
        RETURN NULL;
    END IF;
    PERFORM pg_notify('tarvik_parts', CASE TG_OP WHEN 'DELETE' THEN OLD.idnom::text
        WHEN 'TRUNCATE' THEN '' ELSE NEW.idnom::text END || ':' || pg_backend_pid());
    RETURN NULL;
END $$;

CREATE OR REPLACE FUNCTION tarvik_notify_types() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF current_setting('tarvik.restoring', true) = 'on' THEN
        RETURN NULL;
    END IF;
    PERFORM pg_notify('tarvik_types', CASE TG_OP WHEN 'DELETE' THEN OLD.IDvrachYZD::text
        WHEN 'TRUNCATE' THEN '' ELSE NEW.IDvrachYZD::text END || ':' || pg_backend_pid());
    RETURN NULL;
END $$;
