-- Every statement text the library sends to the server, once.
--
-- Each entry is a line "-- name: <area>.<what>" followed by the statement on
-- one line, exactly as the library's format string has it: %s and %d stand
-- where the library pastes a name, a literal's inside or a number. Other
-- "--" lines are comments. The tests build the batches they expect from these
-- entries (tests/golden/golden.h), so a statement changed in the code and not
-- here fails them; the unit tests also compare the texts the code exposes.
--
-- Where a name goes inside N'%s' it arrives with its quotes doubled; where it
-- goes in as %s alone it arrives bracket-quoted ([a]]b]) unless said otherwise.
-- Statements the library assembles piece by piece (the edit grid's row query
-- and its UPDATE/INSERT/DELETE) have no fixed text and are not listed, except
-- the one fixed form of an INSERT.

-- ========================================================================
-- session: every session, and the connection test
-- ========================================================================

-- Sent first on every session, before the switch to the database.
-- name: session.set_up
SET ANSI_NULLS, ANSI_NULL_DFLT_ON, ANSI_PADDING, ANSI_WARNINGS, ARITHABORT, CONCAT_NULL_YIELDS_NULL, QUOTED_IDENTIFIER ON; SET NUMERIC_ROUNDABORT OFF; SET NOCOUNT OFF; SET TEXTSIZE 4194304

-- The connection test's and the explorer's server node's version probe.
-- name: session.version
SELECT @@version

-- The connection test's probe of the database it landed in.
-- name: session.database
SELECT DB_NAME()

-- ========================================================================
-- query
-- ========================================================================

-- Ends a session, in master; %d is the session id.
-- name: query.kill
KILL %d

-- ========================================================================
-- tree: one list per explorer node kind (tree.<node_kind>)
-- ========================================================================

-- name: tree.databases
SELECT name, state_desc FROM sys.databases WHERE database_id > 4 ORDER BY name

-- name: tree.system_databases
SELECT name, state_desc FROM sys.databases WHERE database_id <= 4 ORDER BY name

-- name: tree.tables
SELECT s.name + '.' + t.name AS label, CAST(ISNULL(p.rows, 0) AS varchar(32)) + ' rows' AS sub FROM sys.tables t JOIN sys.schemas s ON s.schema_id = t.schema_id OUTER APPLY (SELECT SUM(pt.rows) AS rows FROM sys.partitions pt   WHERE pt.object_id = t.object_id AND pt.index_id IN (0,1)) p WHERE t.is_ms_shipped = 0 ORDER BY s.name, t.name

-- name: tree.system_tables
SELECT s.name + '.' + t.name AS label, NULL AS sub FROM sys.tables t JOIN sys.schemas s ON s.schema_id = t.schema_id WHERE t.is_ms_shipped = 1 ORDER BY s.name, t.name

-- Placeholders: schema, table.
-- name: tree.columns
SELECT c.name AS label, ty.name + CASE WHEN ty.name IN ('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar')     THEN c.max_length/2 ELSE c.max_length END AS varchar(10)) END + ')'   WHEN ty.name IN ('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + ',' + CAST(c.scale AS varchar(10)) + ')'   ELSE '' END + CASE WHEN c.is_nullable = 1 THEN ' NULL' ELSE ' NOT NULL' END AS sub, CASE WHEN ic.column_id IS NOT NULL THEN 'PK' ELSE '' END AS keymark FROM sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN sys.tables tb ON tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id LEFT JOIN (sys.index_columns ic JOIN sys.indexes i ON   i.object_id = ic.object_id AND i.index_id = ic.index_id   AND i.is_primary_key = 1)   ON ic.object_id = c.object_id AND ic.column_id = c.column_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY c.column_id

-- Placeholders: schema, table.
-- name: tree.keys
SELECT k.name AS label, k.type_desc AS sub FROM sys.key_constraints k JOIN sys.tables tb ON tb.object_id = k.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY k.name

-- Placeholders: schema, table, schema, table.
-- name: tree.constraints
SELECT dc.name AS label, 'default' AS sub FROM sys.default_constraints dc JOIN sys.tables tb ON tb.object_id = dc.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' UNION ALL SELECT ck.name, 'check' FROM sys.check_constraints ck JOIN sys.tables tb ON tb.object_id = ck.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY 1

-- Placeholders: schema, table.
-- name: tree.triggers
SELECT tr.name AS label, tr.type_desc AS sub FROM sys.triggers tr JOIN sys.tables tb ON tb.object_id = tr.parent_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY tr.name

-- Placeholders: schema, table.
-- name: tree.indexes
SELECT i.name AS label, i.type_desc + CASE WHEN i.is_unique = 1 THEN ' UNIQUE' ELSE '' END + CASE WHEN i.is_primary_key = 1 THEN ' PRIMARY KEY' ELSE '' END AS sub FROM sys.indexes i JOIN sys.tables tb ON tb.object_id = i.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' AND i.type > 0 ORDER BY i.index_id

-- Placeholders: schema, table.
-- name: tree.statistics
SELECT st.name AS label, CASE WHEN st.user_created = 1 THEN 'user' ELSE 'system' END AS sub FROM sys.stats st JOIN sys.tables tb ON tb.object_id = st.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY st.name

-- name: tree.views
SELECT s.name + '.' + v.name AS label, NULL AS sub FROM sys.views v JOIN sys.schemas s ON s.schema_id = v.schema_id WHERE v.is_ms_shipped = 0 ORDER BY s.name, v.name

-- name: tree.stored_procedures
SELECT s.name + '.' + p.name AS label, p.type_desc AS sub FROM sys.procedures p JOIN sys.schemas s ON s.schema_id = p.schema_id WHERE p.is_ms_shipped = 0 ORDER BY s.name, p.name

-- name: tree.functions
SELECT s.name + '.' + f.name AS label, CASE f.type WHEN 'FN' THEN 'scalar' WHEN 'IF' THEN 'inline table-valued' WHEN 'TF' THEN 'table-valued' ELSE f.type_desc END AS sub FROM sys.objects f JOIN sys.schemas s ON s.schema_id = f.schema_id WHERE f.type IN ('FN','IF','TF','FS','AF') AND f.is_ms_shipped = 0 ORDER BY s.name, f.name

-- Placeholders: schema, object.
-- name: tree.function_params
SELECT p.name AS label, ty.name AS sub FROM sys.parameters p JOIN sys.objects o ON o.object_id = p.object_id JOIN sys.schemas s ON s.schema_id = o.schema_id JOIN sys.types ty ON ty.user_type_id = p.user_type_id WHERE s.name = N'%s' AND o.name = N'%s' ORDER BY p.parameter_id

-- name: tree.db_users
SELECT dp.name AS label, dp.type_desc AS sub FROM sys.database_principals dp WHERE dp.type IN ('S','U','G') ORDER BY dp.name

-- name: tree.db_roles
SELECT dp.name AS label, CASE WHEN dp.is_fixed_role = 1 THEN 'fixed' ELSE 'application' END AS sub FROM sys.database_principals dp WHERE dp.type = 'R' ORDER BY dp.name

-- name: tree.db_schemas
SELECT s.name AS label, USER_NAME(s.principal_id) AS sub FROM sys.schemas s ORDER BY s.name

-- name: tree.logins
SELECT sp.name AS label, sp.type_desc AS sub FROM sys.server_principals sp WHERE sp.type IN ('S','U','G') ORDER BY sp.name

-- name: tree.server_roles
SELECT sp.name AS label, CASE WHEN sp.is_fixed_role = 1 THEN 'fixed' ELSE 'user-defined' END AS sub FROM sys.server_principals sp WHERE sp.type = 'R' ORDER BY sp.name

-- name: tree.jobs
SELECT j.name AS label, CASE j.enabled WHEN 1 THEN 'enabled' ELSE 'disabled' END AS sub FROM msdb.dbo.sysjobs j ORDER BY j.name

-- ========================================================================
-- catalog: table descriptions read by more than one operation
-- ========================================================================

-- Primary-key columns in key order (edit grid and scripting). Placeholders: schema, table.
-- name: catalog.primary_key
SELECT c.name AS cname FROM sys.indexes i JOIN sys.index_columns ic ON ic.object_id = i.object_id AND ic.index_id = i.index_id JOIN sys.columns c ON c.object_id = ic.object_id AND c.column_id = ic.column_id JOIN sys.tables tb ON tb.object_id = i.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE i.is_primary_key = 1 AND s.name = N'%s' AND tb.name = N'%s' ORDER BY ic.key_ordinal

-- The edit grid's columns, with identity, computed and nullable flags. Placeholders: schema, table.
-- name: catalog.grid_columns
SELECT c.name AS cname, ty.name + CASE WHEN ty.name IN ('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar') THEN c.max_length/2   ELSE c.max_length END AS varchar(10)) END + ')'   WHEN ty.name IN ('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + ',' + CAST(c.scale AS varchar(10)) + ')'   ELSE '' END AS ctype, CAST(c.is_identity AS int) AS is_id, CAST(c.is_computed AS int) AS is_comp, CAST(c.is_nullable AS int) AS is_null, CAST(c.generated_always_type AS int) AS gen_always, CAST(COLLATIONPROPERTY(c.collation_name, 'CodePage') AS int) AS code_page FROM sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN sys.tables tb ON tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY c.column_id

-- The scripted table's columns, with identity and nullable flags. Placeholders: schema, table.
-- name: catalog.script_columns
SELECT c.name AS cname, ty.name + CASE WHEN ty.name IN ('varchar','char','varbinary','binary','nchar','nvarchar')   THEN '(' + CASE WHEN c.max_length = -1 THEN 'max'   ELSE CAST(CASE WHEN ty.name IN ('nchar','nvarchar') THEN c.max_length/2   ELSE c.max_length END AS varchar(10)) END + ')'   WHEN ty.name IN ('decimal','numeric')   THEN '(' + CAST(c.precision AS varchar(10)) + ',' + CAST(c.scale AS varchar(10)) + ')'   ELSE '' END AS ctype, CAST(c.is_identity AS int) AS is_id, CAST(c.is_nullable AS int) AS is_null FROM sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN sys.tables tb ON tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY c.column_id

-- ========================================================================
-- scripting
-- ========================================================================

-- A module's definition with its length, the session's TEXTSIZE and the two settings
-- the module was created under. Placeholders: schema, object.
-- name: scripting.definition
SELECT m.definition, DATALENGTH(m.definition) AS def_bytes, @@TEXTSIZE AS text_size, CAST(m.uses_ansi_nulls AS int) AS ansi_nulls, CAST(m.uses_quoted_identifier AS int) AS quoted_identifier FROM sys.sql_modules m JOIN sys.objects o ON o.object_id = m.object_id JOIN sys.schemas s ON s.schema_id = o.schema_id WHERE s.name = N'%s' AND o.name = N'%s'

-- CREATE TABLE: each column's type parts, a collation other than the database's, and its
-- computed, identity and default parts. Placeholders: schema, table.
-- name: scripting.table_columns
SELECT c.name AS cname, ty.name AS tname, SCHEMA_NAME(ty.schema_id) AS tschema, CAST(ty.is_user_defined AS int) AS is_udt, CAST(c.max_length AS int) AS max_len, CAST(c.precision AS int) AS prec, CAST(c.scale AS int) AS scale, SCHEMA_NAME(xc.schema_id) AS xschema, xc.name AS xname, CAST(c.is_xml_document AS int) AS xml_doc, CASE WHEN c.collation_name <> CAST(DATABASEPROPERTYEX(DB_NAME(), 'Collation') AS nvarchar(128)) THEN c.collation_name END AS coll, CAST(c.is_nullable AS int) AS is_null, CAST(c.is_computed AS int) AS is_comp, cc.definition AS comp_def, CAST(cc.is_persisted AS int) AS persisted, CAST(c.is_identity AS int) AS is_id, CAST(ic.seed_value AS nvarchar(40)) AS seed, CAST(ic.increment_value AS nvarchar(40)) AS incr, dc.name AS dname, dc.definition AS ddef FROM sys.columns c JOIN sys.types ty ON ty.user_type_id = c.user_type_id JOIN sys.tables tb ON tb.object_id = c.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id LEFT JOIN sys.xml_schema_collections xc ON xc.xml_collection_id = c.xml_collection_id AND c.xml_collection_id <> 0 LEFT JOIN sys.computed_columns cc ON cc.object_id = c.object_id AND cc.column_id = c.column_id LEFT JOIN sys.identity_columns ic ON ic.object_id = c.object_id AND ic.column_id = c.column_id LEFT JOIN sys.default_constraints dc ON dc.parent_object_id = c.object_id AND dc.parent_column_id = c.column_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY c.column_id

-- CREATE TABLE: clustered and nonclustered indexes (key constraints among them), one row
-- per key or included column. Placeholders: schema, table.
-- name: scripting.table_indexes
SELECT COALESCE(kc.name, i.name) AS iname, CAST(i.is_primary_key AS int) AS is_pk, CAST(i.is_unique_constraint AS int) AS is_uq, CAST(i.is_unique AS int) AS is_unique, CAST(i.type AS int) AS itype, i.filter_definition AS filter, c.name AS cname, CAST(ic.is_descending_key AS int) AS is_desc, CAST(ic.is_included_column AS int) AS is_incl FROM sys.indexes i JOIN sys.index_columns ic ON ic.object_id = i.object_id AND ic.index_id = i.index_id JOIN sys.columns c ON c.object_id = ic.object_id AND c.column_id = ic.column_id JOIN sys.tables tb ON tb.object_id = i.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id LEFT JOIN sys.key_constraints kc ON kc.parent_object_id = i.object_id AND kc.unique_index_id = i.index_id WHERE i.type IN (1,2) AND i.is_hypothetical = 0 AND (ic.key_ordinal > 0 OR ic.is_included_column = 1) AND s.name = N'%s' AND tb.name = N'%s' ORDER BY i.index_id, ic.is_included_column, ic.key_ordinal, ic.index_column_id

-- CREATE TABLE: check constraints. Placeholders: schema, table.
-- name: scripting.table_checks
SELECT ck.name AS kname, ck.definition AS kdef FROM sys.check_constraints ck JOIN sys.tables tb ON tb.object_id = ck.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY ck.name

-- CREATE TABLE: foreign keys, one row per column pair. Placeholders: schema, table.
-- name: scripting.table_foreign_keys
SELECT fk.name AS fname, rs.name AS rschema, rt.name AS rtable, pc.name AS cname, rc.name AS rcname, CAST(fk.delete_referential_action AS int) AS on_delete, CAST(fk.update_referential_action AS int) AS on_update FROM sys.foreign_keys fk JOIN sys.foreign_key_columns fkc ON fkc.constraint_object_id = fk.object_id JOIN sys.columns pc ON pc.object_id = fkc.parent_object_id AND pc.column_id = fkc.parent_column_id JOIN sys.columns rc ON rc.object_id = fkc.referenced_object_id AND rc.column_id = fkc.referenced_column_id JOIN sys.tables rt ON rt.object_id = fk.referenced_object_id JOIN sys.schemas rs ON rs.schema_id = rt.schema_id JOIN sys.tables tb ON tb.object_id = fk.parent_object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s' ORDER BY fk.name, fkc.constraint_column_id

-- CREATE TABLE: what of the table's storage the script leaves out. Placeholders: schema, table.
-- name: scripting.table_storage
SELECT CAST(tb.temporal_type AS int) AS temporal, CASE WHEN EXISTS (SELECT 1 FROM sys.indexes i JOIN sys.data_spaces ds ON ds.data_space_id = i.data_space_id WHERE i.object_id = tb.object_id AND ds.type = 'PS') THEN 1 ELSE 0 END AS partitioned, CASE WHEN EXISTS (SELECT 1 FROM sys.partitions p WHERE p.object_id = tb.object_id AND p.data_compression <> 0) THEN 1 ELSE 0 END AS compressed, CASE WHEN EXISTS (SELECT 1 FROM sys.data_spaces ds WHERE ds.type = 'FG' AND ds.is_default = 0 AND (ds.data_space_id = tb.lob_data_space_id OR ds.data_space_id IN (SELECT i.data_space_id FROM sys.indexes i WHERE i.object_id = tb.object_id))) THEN 1 ELSE 0 END AS filegroups, CASE WHEN EXISTS (SELECT 1 FROM sys.indexes i WHERE i.object_id = tb.object_id AND i.type > 2) THEN 1 ELSE 0 END AS other_indexes FROM sys.tables tb JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s'

-- Parameters of a procedure or function for exec_params. Placeholders: schema, object.
-- name: scripting.parameters
SELECT p.name AS pname, ty.name AS tname, CAST(p.is_output AS int) AS is_out, CAST(p.has_default_value AS int) AS has_def, p.default_value AS dflt FROM sys.parameters p JOIN sys.objects o ON o.object_id = p.object_id JOIN sys.schemas s ON s.schema_id = o.schema_id JOIN sys.types ty ON ty.user_type_id = p.user_type_id WHERE s.name = N'%s' AND o.name = N'%s' ORDER BY p.parameter_id

-- table_props: is there such an object; the last %s is the type (U). Placeholders: schema, table, type.
-- name: scripting.table_exists
SELECT o.name FROM sys.objects o JOIN sys.schemas s ON s.schema_id = o.schema_id WHERE s.name = N'%s' AND o.name = N'%s' AND o.type = '%s'

-- table_props: pages allocated. Placeholders: schema, table.
-- name: scripting.table_pages
SELECT CAST(SUM(au.total_pages) AS varchar(32)) AS used_pages FROM sys.allocation_units au JOIN sys.partitions pt ON pt.partition_id = au.container_id JOIN sys.tables tb ON tb.object_id = pt.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE s.name = N'%s' AND tb.name = N'%s'

-- table_props: rows in the heap or clustered index. Placeholders: schema, table.
-- name: scripting.table_rows
SELECT CAST(SUM(pt.rows) AS varchar(32)) AS rows FROM sys.partitions pt JOIN sys.tables tb ON tb.object_id = pt.object_id JOIN sys.schemas s ON s.schema_id = tb.schema_id WHERE pt.index_id IN (0,1) AND s.name = N'%s' AND tb.name = N'%s'

-- ========================================================================
-- editgrid: one transaction around an apply
-- ========================================================================

-- name: editgrid.begin
BEGIN TRANSACTION

-- name: editgrid.commit
COMMIT TRANSACTION

-- After the first failure, including a failed BEGIN or COMMIT, and after a
-- statement that did not change exactly one row.
-- name: editgrid.rollback
ROLLBACK TRANSACTION

-- An insert that names no column the grid may write; %s is the bracketed
-- [database].[schema].[table].
-- name: editgrid.insert_defaults
INSERT INTO %s DEFAULT VALUES

-- ========================================================================
-- activity: the activity monitor's views, in master
-- ========================================================================

-- name: activity.sessions
SELECT s.session_id AS spid, DB_NAME(r.database_id) AS database_name, s.login_name, s.host_name, s.program_name, s.status AS session_status, r.status AS request_status, r.command, r.cpu_time, r.total_elapsed_time, r.blocking_session_id, r.wait_type, r.wait_time, SUBSTRING(st.text, (r.statement_start_offset/2)+1,  ((CASE r.statement_end_offset WHEN -1 THEN DATALENGTH(st.text)  ELSE r.statement_end_offset END - r.statement_start_offset)/2)+1) AS statement FROM sys.dm_exec_sessions s LEFT JOIN sys.dm_exec_requests r ON r.session_id = s.session_id OUTER APPLY sys.dm_exec_sql_text(r.sql_handle) st WHERE s.is_user_process = 1 ORDER BY s.session_id

-- name: activity.blocking
SELECT r.session_id AS spid, r.blocking_session_id AS blocked_by, DB_NAME(r.database_id) AS database_name, r.wait_type, r.wait_time, r.command, s.login_name, s.host_name, SUBSTRING(st.text, (r.statement_start_offset/2)+1,  ((CASE r.statement_end_offset WHEN -1 THEN DATALENGTH(st.text)  ELSE r.statement_end_offset END - r.statement_start_offset)/2)+1) AS statement FROM sys.dm_exec_requests r JOIN sys.dm_exec_sessions s ON s.session_id = r.session_id CROSS APPLY sys.dm_exec_sql_text(r.sql_handle) st WHERE r.blocking_session_id <> 0 ORDER BY r.blocking_session_id, r.session_id

-- name: activity.waits
SELECT TOP (100) wait_type, waiting_tasks_count, wait_time_ms, max_wait_time_ms, signal_wait_time_ms FROM sys.dm_os_wait_stats WHERE wait_type NOT LIKE 'SESSION%' AND wait_type NOT LIKE 'SLEEP%' ORDER BY wait_time_ms DESC

-- name: activity.expensive
SELECT TOP (100) DB_NAME(st.dbid) AS database_name, SUBSTRING(st.text, 1, 4000) AS query_text, qs.total_elapsed_time, qs.total_worker_time, qs.execution_count, qs.total_elapsed_time / NULLIF(qs.execution_count,0) AS avg_elapsed_time FROM sys.dm_exec_query_stats qs CROSS APPLY sys.dm_exec_sql_text(qs.sql_handle) st ORDER BY qs.total_elapsed_time DESC

-- ========================================================================
-- storage
-- ========================================================================

-- Placeholder: the bracketed database.
-- name: storage.files
SELECT f.name AS logical_name, CAST(FILEPROPERTY(f.name, 'SpaceUsed') AS bigint) AS used_pages, f.size AS size_pages, CASE WHEN f.size > FILEPROPERTY(f.name,'SpaceUsed')  THEN f.size - FILEPROPERTY(f.name,'SpaceUsed') ELSE 0 END AS free_pages, CASE WHEN f.size > FILEPROPERTY(f.name,'SpaceUsed')  THEN (f.size - FILEPROPERTY(f.name,'SpaceUsed')) * 8 / 1024 ELSE 0 END AS free_mb, f.type_desc AS file_type, f.physical_name FROM %s.sys.database_files f ORDER BY f.file_id

-- In msdb. The three %s are empty, or the filter WHERE bs.database_name = N'<name>'
-- in three pieces: its head up to the quote, the name's literal text, the quote.
-- name: storage.history
SELECT TOP (200) bs.database_name, bs.type AS backup_type, bs.backup_start_date, bs.backup_finish_date, bs.compressed_backup_size, bs.media_set_id, bmf.physical_device_name FROM msdb.dbo.backupset bs JOIN msdb.dbo.backupmediafamily bmf ON bmf.media_set_id = bs.media_set_id %s%s%sORDER BY bs.backup_start_date DESC

-- In the target database. Placeholder: the logical file name's literal text.
-- name: storage.shrink
DBCC SHRINKFILE(N'%s', 0) WITH NO_INFOMSGS

-- In master. Placeholders: bracketed database, the path's literal text.
-- name: storage.backup
BACKUP DATABASE %s TO DISK = N'%s' WITH INIT, COMPRESSION, STATS = 10

-- ========================================================================
-- admin: jobs, logins, users, error log, query store, job control
-- ========================================================================

-- In msdb.
-- name: admin.jobs
SELECT j.job_id, j.name, j.enabled, j.description, j.date_created, CASE WHEN s.job_id IS NULL THEN 4 ELSE 1 END AS current_execution_status FROM msdb.dbo.sysjobs j LEFT JOIN msdb.dbo.sysjobactivity s ON s.job_id = j.job_id AND s.session_id = (SELECT MAX(session_id) FROM msdb.dbo.sysjobactivity) AND s.start_execution_date IS NOT NULL AND s.stop_execution_date IS NULL ORDER BY j.name

-- In master.
-- name: admin.logins
SELECT sp.name, sp.type_desc, sp.is_disabled, sp.create_date, sp.default_database_name, dl.name AS default_server_role FROM sys.server_principals sp LEFT JOIN sys.server_role_members rm ON rm.member_principal_id = sp.principal_id LEFT JOIN sys.server_principals dl ON dl.principal_id = rm.role_principal_id WHERE sp.type IN ('S','U','G') ORDER BY sp.name

-- In master; newest lines first.
-- name: admin.errorlog
EXEC master.sys.xp_readerrorlog 0, 1, N'', N'', NULL, NULL, N'desc'

-- Placeholders: the bracketed database, three times.
-- name: admin.db_users
SELECT dp.name, dp.type_desc, dp.authentication_type_desc, ISNULL(STRING_AGG(rp.name, ', ') WITHIN GROUP (ORDER BY rp.name), '') AS roles FROM %s.sys.database_principals dp LEFT JOIN %s.sys.database_role_members rm ON rm.member_principal_id = dp.principal_id LEFT JOIN %s.sys.database_principals rp ON rp.principal_id = rm.role_principal_id WHERE dp.type IN ('S','U','G') GROUP BY dp.name, dp.type_desc, dp.authentication_type_desc ORDER BY dp.name

-- Placeholders: the bracketed database, four times.
-- name: admin.querystore
SELECT TOP (100) q.query_id, p.plan_id, SUBSTRING(qt.query_sql_text, 1, 4000) AS query_sql_text, rs.count_executions, rs.avg_duration, rs.avg_cpu_time, rs.avg_logical_io_reads FROM %s.sys.query_store_runtime_stats rs JOIN %s.sys.query_store_plan p ON p.plan_id = rs.plan_id JOIN %s.sys.query_store_query q ON q.query_id = p.query_id JOIN %s.sys.query_store_query_text qt ON qt.query_text_id = q.query_text_id ORDER BY rs.avg_duration DESC

-- Job control, in msdb. Placeholder: the job id's literal text.
-- name: admin.job_start
EXEC msdb.dbo.sp_start_job @job_id = N'%s'

-- name: admin.job_stop
EXEC msdb.dbo.sp_stop_job @job_id = N'%s'

-- name: admin.job_enable
EXEC msdb.dbo.sp_update_job @job_id = N'%s', @enabled = 1

-- name: admin.job_disable
EXEC msdb.dbo.sp_update_job @job_id = N'%s', @enabled = 0
