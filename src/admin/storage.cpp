// Storage: a database's files, file shrink, full backup and backup history.
#include <cstring>

#include "admin/names.h"
#include "admin/rowset.h"
#include "common/capture.h"
#include "common/conn.h"
#include "common/escape.h"
#include "common/operation.h"
#include "common/text.h"

namespace {

constexpr int kFilesMaxRows = 1000;
constexpr int kHistoryMaxRows = 200;
constexpr int kShrinkMaxRows = 500;
constexpr std::size_t kStatementSize = 2048;
constexpr std::size_t kPathLiteralSize = 1024;  // at most 1023 bytes once quotes are doubled

// Placeholders: the quoted database name twice, then its Unicode literal.
constexpr char kFiles[] =
    "SELECT f.name AS logical_name, CAST(FILEPROPERTY(f.name, 'SpaceUsed') AS bigint) AS "
    "used_pages, f.size AS size_pages, CASE WHEN f.size > FILEPROPERTY(f.name,'SpaceUsed')  "
    "THEN f.size - FILEPROPERTY(f.name,'SpaceUsed') ELSE 0 END AS free_pages, CASE WHEN f.size "
    "> FILEPROPERTY(f.name,'SpaceUsed')  THEN (f.size - FILEPROPERTY(f.name,'SpaceUsed')) * 8 / "
    "1024 ELSE 0 END AS free_mb, f.type_desc AS file_type, mf.physical_name FROM "
    "%s.sys.database_files f JOIN %s.sys.master_files mf ON mf.database_id = DB_ID(N'%s') AND "
    "mf.file_id = f.file_id ORDER BY f.file_id";

// Placeholders: the three pieces of the optional database filter.
constexpr char kHistory[] =
    "SELECT TOP (200) bs.database_name, bs.type AS backup_type, bs.backup_start_date, "
    "bs.backup_finish_date, bs.compressed_backup_size, bs.media_set_id, "
    "bmf.physical_device_name FROM msdb.dbo.backupset bs JOIN msdb.dbo.backupmediafamily bmf ON "
    "bmf.media_set_id = bs.media_set_id %s%s%sORDER BY bs.backup_start_date DESC";
constexpr char kHistoryFilterOpen[] = "WHERE bs.database_name = N'";
constexpr char kHistoryFilterClose[] = "'";

constexpr char kShrink[] = "DBCC SHRINKFILE(N'%s', 0) WITH NO_INFOMSGS";
constexpr std::size_t kShrinkSize = 1024;

// Placeholders: the quoted database name, the escaped path.
constexpr char kBackup[] =
    "BACKUP DATABASE %s TO DISK = N'%s' WITH INIT, COMPRESSION, STATS = 10";

static_assert(sizeof kFiles + 3 * kQuotedNameSize < kStatementSize);
static_assert(sizeof kHistory + sizeof kHistoryFilterOpen + kNameLiteralSize < kStatementSize);
static_assert(sizeof kShrink + kNameLiteralSize < kShrinkSize);
static_assert(sizeof kBackup + kQuotedNameSize + kPathLiteralSize < kStatementSize);

char *refuse(const char *message) {
  qv_seterr("%s", message);
  return qv_err_json();
}

char *files(const qv_conn &conn, const char *database) {
  char ident[kQuotedNameSize], literal[kNameLiteralSize];
  if (quote_name(database, ident) != 0 || name_literal(database, literal) != 0)
    return refuse("invalid database");
  char sql[kStatementSize];
  qv_format_cut(sql, sizeof sql, kFiles, ident, ident, literal);
  return rows_json(conn, database, sql, kFilesMaxRows);
}

// Only the call's own database argument filters the history.
char *history(const qv_conn &conn, const char *database_arg) {
  bool filtered = database_arg && *database_arg;
  char literal[kNameLiteralSize] = "";
  if (filtered && name_literal(database_arg, literal) != 0) return refuse("invalid database");
  char sql[kStatementSize];
  qv_format_cut(sql, sizeof sql, kHistory, filtered ? kHistoryFilterOpen : "", literal,
                filtered ? kHistoryFilterClose : "");
  return rows_json(conn, "msdb", sql, kHistoryMaxRows);
}

char *shrink(const qv_conn &conn, const char *database, const char *file) {
  if (!file || !*file) return refuse("shrink requires arg = logical file name");
  char literal[kNameLiteralSize];
  if (name_literal(file, literal) != 0) return refuse("invalid file name");
  char sql[kShrinkSize];
  qv_format_cut(sql, sizeof sql, kShrink, literal);
  return rows_json(conn, database, sql, kShrinkMaxRows, wait_limit::none);
}

char *backup(const qv_conn &conn, const char *database, const char *path) {
  if (!path || !*path) return refuse("backup requires arg = destination file path");
  char path_literal[kPathLiteralSize];
  if (!qv_utf8_valid(path, std::strlen(path)) ||
      qv_sql_escape(path, path_literal, sizeof path_literal) != 0)
    return refuse("invalid path");
  char ident[kQuotedNameSize];
  if (quote_name(database, ident) != 0) return refuse("invalid database");
  char sql[kStatementSize];
  qv_format_cut(sql, sizeof sql, kBackup, ident, path_literal);
  return action_json(conn, "master", sql, action_shape::empty_rowset, "backup failed",
                     wait_limit::none);
}

}  // namespace

char *qv_impl_storage(const char *conn_json, const char *database, const char *action,
                      const char *arg) {
  qv_scoped_conn conn;
  if (qv_conn_load(conn_json, &conn) != 0) return qv_err_json();
  if (!action || !*action) return refuse("action is required");
  const char *target = qv_pick_database(database, &conn);
  if (std::strcmp(action, "files") == 0) return files(conn, target);
  if (std::strcmp(action, "history") == 0) return history(conn, database);
  if (std::strcmp(action, "shrink") == 0) return shrink(conn, target, arg);
  if (std::strcmp(action, "backup") == 0) return backup(conn, target, arg);
  qv_seterr("unknown storage action: %s (files|shrink|backup|history)", action);
  return qv_err_json();
}
