/*
 * quorvex-dbdesk-core: Microsoft SQL Server operations for a database
 * management front end, behind a plain C interface.
 *
 * Conventions shared by every function below:
 *  - Texts are NUL-terminated UTF-8; integers are 32-bit signed.
 *  - Every operation opens its own server session, runs, closes the session
 *    and returns one newly allocated NUL-terminated JSON text. The caller owns
 *    that text and releases it with dbdesk_core_free (never with another
 *    allocator's release function). Argument texts are only read.
 *  - On failure an operation answers either its own reply with "ok": false
 *    or the error envelope {"ok":false,"error":"..."}. It returns NULL only
 *    when not even the envelope could be allocated.
 *  - Threading: any thread may call any function, several threads at once.
 *    Each call runs entirely on the calling thread with its own session; the
 *    last-error text is kept per thread.
 */
#ifndef QUORVEX_DBDESK_CORE_H
#define QUORVEX_DBDESK_CORE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define DBDESK_CORE_API __declspec(dllexport)
#else
#define DBDESK_CORE_API __attribute__((visibility("default")))
#endif

/* The library version, "1.1.0". Static text: never pass it to dbdesk_core_free.
 * The same pointer is returned on every call. */
DBDESK_CORE_API const char *dbdesk_core_version(void);

/* The calling thread's last-error text: empty when the last operation on this
 * thread recorded no error. Owned by the library; valid until the next
 * operation call on the same thread. Never pass it to dbdesk_core_free. */
DBDESK_CORE_API const char *dbdesk_core_last_error(void);

/* Releases a text returned by any operation. NULL is ignored. May be called
 * on any thread. */
DBDESK_CORE_API void dbdesk_core_free(void *p);

/* Tests connection settings: logs in, reads @@version and DB_NAME(), reports
 * the session id and the login time. host and user are required; password
 * and database may be NULL; port <= 0 means 1433; encrypt non-zero demands an
 * encrypted connection; timeout_s is clamped to 1..120 (10 below 1).
 * A connection that cannot be made is reported with "ok": false. */
DBDESK_CORE_API char *dbdesk_core_connect_test(const char *host, int port,
                                               const char *user,
                                               const char *password,
                                               const char *database,
                                               int encrypt, int timeout_s);

/* Lists the children of one object-explorer node. conn_json and node_kind
 * are required; database, schema and obj select the node (NULL allowed). */
DBDESK_CORE_API char *dbdesk_core_tree(const char *conn_json,
                                       const char *node_kind,
                                       const char *database,
                                       const char *schema, const char *obj);

/* Runs a script whose batches are separated by GO lines and returns every
 * result set and server message per batch. conn_json and sql are required;
 * database NULL/empty means the document's database, else "master";
 * max_rows is the row limit per result set (below 1: 1000, capped at
 * 100000); timeout_s > 0 replaces the document's time-out (capped at 120). */
DBDESK_CORE_API char *dbdesk_core_query(const char *conn_json,
                                        const char *database, const char *sql,
                                        int max_rows, int timeout_s);

/* Ends the server session spid (1..32767) with KILL, run in "master".
 * conn_json is required. */
DBDESK_CORE_API char *dbdesk_core_kill_spid(const char *conn_json, int spid);

/* Generates a script for an object (kind, schema, obj) and action.
 * conn_json, kind, obj and action are required. */
DBDESK_CORE_API char *dbdesk_core_script_object(const char *conn_json,
                                                const char *database,
                                                const char *kind,
                                                const char *schema,
                                                const char *obj,
                                                const char *action);

/* Loads a table for editing, up to max_rows rows. conn_json and table are
 * required. */
DBDESK_CORE_API char *dbdesk_core_editgrid_load(const char *conn_json,
                                                const char *database,
                                                const char *schema,
                                                const char *table,
                                                int max_rows);

/* Applies row edits (ops_json) to a table in one transaction, or with
 * dry_run non-zero returns the statements without running them. conn_json,
 * table and ops_json are required. */
DBDESK_CORE_API char *dbdesk_core_editgrid_apply(const char *conn_json,
                                                 const char *database,
                                                 const char *schema,
                                                 const char *table,
                                                 const char *ops_json,
                                                 int dry_run);

/* Reports one activity view (sessions, waits, ...). conn_json and view are
 * required. */
DBDESK_CORE_API char *dbdesk_core_activity(const char *conn_json,
                                           const char *view);

/* Storage views and actions (files, shrink, backup, ...). conn_json and
 * action are required; arg is the action's operand. */
DBDESK_CORE_API char *dbdesk_core_storage(const char *conn_json,
                                          const char *database,
                                          const char *action,
                                          const char *arg);

/* Server administration views and job control. conn_json and kind are
 * required; arg is the operand of the kind. */
DBDESK_CORE_API char *dbdesk_core_admin(const char *conn_json,
                                        const char *kind,
                                        const char *database,
                                        const char *arg);

/* Stops every call currently running under tag: the optional "tag" member
 * of the connection document (a non-empty string of at most 128 bytes,
 * chosen by the caller, e.g. one per query tab; several calls may share
 * one). Returns at once with {"ok":true,"cancelled":N,"error":null}, N being
 * the number of calls signalled (0 when none ran under tag); a NULL or empty
 * tag gets the error envelope. The reply is released with dbdesk_core_free.
 *
 * Threading: call it from any thread, typically another than the one
 * running the call; it never waits for the cancelled calls. Each cancelled
 * call notices on its own thread within about a second: a login in progress
 * is abandoned, a statement the server is working on is told to stop
 * (ATTENTION), a row stream is cancelled, and no further statement is sent.
 * The call then closes its session and fails as it would for a failed
 * statement, with the text "cancelled by the caller" (a query keeps the
 * batches received so far). Since 1.1.0. */
DBDESK_CORE_API char *dbdesk_core_cancel(const char *tag);

/* Receives the events of dbdesk_core_query_stream, one JSON object each, in
 * order, on the thread that called it. event_json (len bytes, NUL-terminated)
 * is valid only during the call. Return 0 to go on; any other value stops
 * the call as dbdesk_core_cancel would. The callback must not call this
 * library. */
typedef int (*dbdesk_core_event_fn)(void *user, const char *event_json, size_t len);

/* Runs a script as dbdesk_core_query does, but hands every event to on_event
 * while it runs: "batch" when a batch is sent, "columns", "rows" (in chunks
 * of at most 1000 rows or 256 KiB, and at least every 100 ms while rows
 * come), "result_end", "count" (the rows a statement without a result set
 * affected), "message" (as soon as the server sends it) and "batch_end".
 * conn_json, sql and on_event are required. max_rows: at most that many
 * rows per result set (0 or below: no limit). timeout_s > 0: login and
 * statement time-out; 0: a 15-second login time-out and no statement
 * time-out (the document's timeout_s is not used). Returns the summary
 * {"ok","spid","elapsed_ms","batches","rows","error"}, or the error envelope
 * when nothing was run; release it with dbdesk_core_free. The library holds
 * at most one chunk of rows at a time. Since 1.2.0. */
DBDESK_CORE_API char *dbdesk_core_query_stream(const char *conn_json,
                                               const char *database,
                                               const char *sql, int max_rows,
                                               int timeout_s,
                                               dbdesk_core_event_fn on_event,
                                               void *user);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_DBDESK_CORE_H */
