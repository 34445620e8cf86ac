-- The roles of a central RUVO database and their rights.
--
-- Run as a superuser, or as the owner of the tables (the role that created
-- them: the first monitor started as that role, or ruvo-migrate) when it may
-- create roles, after the tables exist:
--
--   psql -h db.example.local -d ruvo -U ruvo_owner -f ruvo-roles.sql
--        [-v schema=public] [-v prefix=ruvo]
--
-- It makes three group roles (NOLOGIN) and grants them what they may do;
-- people log in as roles of their own that are members of one of them:
--
--   <prefix>_operator  readings, journal, cards, marks: reads and writes the
--                      record tables, adds audit rows
--   <prefix>_service   the operator's rights plus the dosimeter's service
--                      (dose clearing, metrology): the monitor offers those
--                      commands to members of this role only
--   <prefix>_auditor   reads every table, the audit trail included; writes
--                      nothing
--
-- The audit trail ("Audit") is only ever added to: no one but the owner may
-- change or remove its rows. Tables the owner creates later in the schema
-- get reading and adding rights at once (default privileges); run the
-- script again after an upgrade that adds tables so that the operator may
-- also change them. Running it again changes nothing else.
\set ON_ERROR_STOP on
\if :{?schema}
\else
\set schema public
\endif
\if :{?prefix}
\else
\set prefix ruvo
\endif
\set operator :prefix '_operator'
\set service :prefix '_service'
\set auditor :prefix '_auditor'

SET client_min_messages TO warning;

-- The tables must be there: their owner is the one role that keeps every
-- right, and the owner of what is made later.
SELECT t.tableowner IS NOT NULL AS have_tables, t.tableowner AS owner
  FROM (SELECT (SELECT tableowner FROM pg_tables WHERE schemaname = :'schema' AND tablename = 'Measures')
        AS tableowner) t \gset
\if :have_tables
\else
\echo 'ruvo-roles: no table Measures in schema' :schema '- create the tables first (ruvo-migrate, or the monitor started as their owner)'
DO $$ BEGIN RAISE EXCEPTION 'ruvo-roles: the tables are missing'; END $$;
\endif

-- The roles (cluster-wide; made once).
SELECT format('CREATE ROLE %I NOLOGIN', r)
  FROM unnest(ARRAY[:'operator', :'service', :'auditor']) AS r
 WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = r) \gexec
GRANT :"operator" TO :"service";

-- The schema: found, never created or changed by the roles.
REVOKE CREATE ON SCHEMA :"schema" FROM PUBLIC;
GRANT USAGE ON SCHEMA :"schema" TO :"operator", :"auditor";

-- The record tables (every table of the schema but the audit trail).
SELECT format('GRANT SELECT, INSERT, UPDATE, DELETE ON %I.%I TO %I', table_schema, table_name, :'operator'),
       format('GRANT SELECT ON %I.%I TO %I', table_schema, table_name, :'auditor')
  FROM information_schema.tables
 WHERE table_schema = :'schema' AND table_type = 'BASE TABLE' AND table_name <> 'Audit' \gexec
GRANT USAGE, SELECT ON ALL SEQUENCES IN SCHEMA :"schema" TO :"operator";

-- The audit trail: added to and read, never changed.
SELECT format('REVOKE ALL ON %I.%I FROM PUBLIC, %I, %I, %I', table_schema, table_name,
              :'operator', :'service', :'auditor'),
       format('GRANT SELECT, INSERT ON %I.%I TO %I', table_schema, table_name, :'operator'),
       format('GRANT SELECT ON %I.%I TO %I', table_schema, table_name, :'auditor')
  FROM information_schema.tables
 WHERE table_schema = :'schema' AND table_name = 'Audit' \gexec

-- Tables and sequences the owner makes later (the audit trail of a newer
-- version among them): readable by all three, rows added by the operator.
ALTER DEFAULT PRIVILEGES FOR ROLE :"owner" IN SCHEMA :"schema" GRANT SELECT, INSERT ON TABLES TO :"operator";
ALTER DEFAULT PRIVILEGES FOR ROLE :"owner" IN SCHEMA :"schema" GRANT SELECT ON TABLES TO :"auditor";
ALTER DEFAULT PRIVILEGES FOR ROLE :"owner" IN SCHEMA :"schema" GRANT USAGE, SELECT ON SEQUENCES TO :"operator";
