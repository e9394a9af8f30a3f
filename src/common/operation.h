// The implementations behind the exported operations. Each takes exactly the
// arguments of its exported function and returns a malloc'd JSON text.
#pragma once

char *qv_impl_connect_test(const char *host, int port, const char *user, const char *password,
                           const char *database, int encrypt, int timeout_s);
char *qv_impl_tree(const char *conn_json, const char *node_kind, const char *database,
                   const char *schema, const char *obj);
char *qv_impl_query(const char *conn_json, const char *database, const char *sql, int max_rows,
                    int timeout_s);
char *qv_impl_kill_spid(const char *conn_json, int spid);
char *qv_impl_script_object(const char *conn_json, const char *database, const char *kind,
                            const char *schema, const char *obj, const char *action);
char *qv_impl_editgrid_load(const char *conn_json, const char *database, const char *schema,
                            const char *table, int max_rows);
char *qv_impl_editgrid_apply(const char *conn_json, const char *database, const char *schema,
                             const char *table, const char *ops_json, int dry_run);
char *qv_impl_activity(const char *conn_json, const char *view);
char *qv_impl_storage(const char *conn_json, const char *database, const char *action,
                      const char *arg);
char *qv_impl_admin(const char *conn_json, const char *kind, const char *database,
                    const char *arg);
char *qv_impl_cancel(const char *tag);

// The answer of an operation that is not built yet: the error envelope
// "not implemented yet".
char *qv_not_implemented();
