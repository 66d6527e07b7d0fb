-- The call table and the procedure that the relay calls once per recorded call.
-- psqlODBC turns the ODBC escape {Call cid_CallInWrite(...)} into a SELECT, so the
-- procedure is a function returning void rather than a PostgreSQL PROCEDURE.
-- Run it as the login that the relay uses (it then owns both objects).

CREATE TABLE IF NOT EXISTS calls (
  id          bigserial PRIMARY KEY,
  center_id   integer     NOT NULL,
  caller      text        NOT NULL,
  in_exten    text        NOT NULL,
  account_ext text        NOT NULL,
  received_at timestamp   NOT NULL DEFAULT now()
);

CREATE OR REPLACE FUNCTION cid_CallInWrite(p_center_id integer, p_caller text,
                                           p_in_exten text, p_account_ext text)
RETURNS void
LANGUAGE sql
AS $$
  INSERT INTO calls (center_id, caller, in_exten, account_ext)
  VALUES (p_center_id, p_caller, p_in_exten, p_account_ext);
$$;
