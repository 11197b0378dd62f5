-- What the program derives, kept by the server itself exactly as the file's triggers keep it,
-- so that psql and other clients may write the register too. Each function runs with the
-- search path it was created with: a client with another search path still finds the tables.
-- The functions these call are in the store's server-functions.sql, run first.

-- COUNT(kont), current after any change.
CREATE TRIGGER client_kont_insert AFTER INSERT ON client
    FOR EACH ROW WHEN (NEW.kont IS NOT NULL) EXECUTE FUNCTION tarvik_client_kont_count();
CREATE TRIGGER client_kont_delete AFTER DELETE ON client
    FOR EACH ROW WHEN (OLD.kont IS NOT NULL) EXECUTE FUNCTION tarvik_client_kont_count();
-- An update that leaves kont as NULL or not NULL changes no count: the counter's row is not
-- locked for it, so writers of other fields do not queue there.
CREATE TRIGGER client_kont_update AFTER UPDATE OF kont ON client
    FOR EACH ROW WHEN ((NEW.kont IS NULL) <> (OLD.kont IS NULL))
    EXECUTE FUNCTION tarvik_client_kont_count();
CREATE TRIGGER client_kont_truncate AFTER TRUNCATE ON client
    FOR EACH STATEMENT EXECUTE FUNCTION tarvik_client_kont_count();

-- Every change to the parts' names, by anyone.
CREATE TRIGGER client_name_changes_insert AFTER INSERT ON client
    FOR EACH ROW EXECUTE FUNCTION tarvik_client_name_changes();
CREATE TRIGGER client_name_changes_delete AFTER DELETE ON client
    FOR EACH ROW EXECUTE FUNCTION tarvik_client_name_changes();
CREATE TRIGGER client_name_changes_update AFTER UPDATE ON client
    FOR EACH ROW WHEN (NEW.idFamKey IS DISTINCT FROM OLD.idFamKey
        OR NEW.idFam IS DISTINCT FROM OLD.idFam OR NEW.idnom IS DISTINCT FROM OLD.idnom)
    EXECUTE FUNCTION tarvik_client_name_changes();
CREATE TRIGGER client_name_changes_truncate AFTER TRUNCATE ON client
    FOR EACH STATEMENT EXECUTE FUNCTION tarvik_client_name_changes();

-- A name changed while its key stayed: the key is cleared for the program to fill. As in the
-- file it is a second update of the row, so the name-change counter moves as it does there.
CREATE FUNCTION tarvik_client_idfamkey_renamed() RETURNS trigger LANGUAGE plpgsql
SET search_path FROM CURRENT AS $$
BEGIN
    UPDATE client SET idFamKey = NULL WHERE idnom = NEW.idnom;
    RETURN NULL;
END $$;
CREATE TRIGGER client_idFamKey_renamed AFTER UPDATE OF idFam ON client
    FOR EACH ROW WHEN (NEW.idFam IS DISTINCT FROM OLD.idFam
        AND NEW.idFamKey IS NOT DISTINCT FROM OLD.idFamKey)
    EXECUTE FUNCTION tarvik_client_idfamkey_renamed();

-- Other computers listen (server-functions.sql says what they hear).
CREATE TRIGGER client_notify AFTER INSERT OR UPDATE OR DELETE ON client
    FOR EACH ROW EXECUTE FUNCTION tarvik_notify_parts();
CREATE TRIGGER client_notify_truncate AFTER TRUNCATE ON client
    FOR EACH STATEMENT EXECUTE FUNCTION tarvik_notify_parts();

CREATE TRIGGER vrYZD_notify AFTER INSERT OR UPDATE OR DELETE ON vrYZD
    FOR EACH ROW EXECUTE FUNCTION tarvik_notify_types();
CREATE TRIGGER vrYZD_notify_truncate AFTER TRUNCATE ON vrYZD
    FOR EACH STATEMENT EXECUTE FUNCTION tarvik_notify_types();
