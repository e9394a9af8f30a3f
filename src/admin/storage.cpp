// Storage: a database's files, file shrink, full backup and backup history.
#include <cstring>

#include "admin/admin.h"
#include "common/capture.h"
#include "common/names.h"
#include "common/text.h"

namespace qv::ops::admin {

namespace {

constexpr int kFilesMaxRows = 1000;
constexpr int kHistoryMaxRows = 200;
constexpr int kShrinkMaxRows = 500;
constexpr char kInvalidDatabase[] = "invalid database";

// Placeholder: the quoted database name. The physical name comes from the
// database's own file view, which its owner may read (sys.master_files
// shows rows only to those who may create or alter any database).
constexpr char kFiles[] =
    "SELECT f.name AS logical_name, CAST(FILEPROPERTY(f.name, 'SpaceUsed') AS bigint) AS "
    "used_pages, f.size AS size_pages, CASE WHEN f.size > FILEPROPERTY(f.name,'SpaceUsed')  "
    "THEN f.size - FILEPROPERTY(f.name,'SpaceUsed') ELSE 0 END AS free_pages, CASE WHEN f.size "
    "> FILEPROPERTY(f.name,'SpaceUsed')  THEN (f.size - FILEPROPERTY(f.name,'SpaceUsed')) * 8 / "
    "1024 ELSE 0 END AS free_mb, f.type_desc AS file_type, f.physical_name FROM "
    "%s.sys.database_files f ORDER BY f.file_id";

// Placeholders: the three pieces of the optional database filter.
constexpr char kHistory[] =
    "SELECT TOP (200) bs.database_name, bs.type AS backup_type, bs.backup_start_date, "
    "bs.backup_finish_date, bs.compressed_backup_size, bs.media_set_id, "
    "bmf.physical_device_name FROM msdb.dbo.backupset bs JOIN msdb.dbo.backupmediafamily bmf ON "
    "bmf.media_set_id = bs.media_set_id %s%s%sORDER BY bs.backup_start_date DESC";
constexpr char kHistoryFilterOpen[] = "WHERE bs.database_name = N'";
constexpr char kHistoryFilterClose[] = "'";

constexpr char kShrink[] = "DBCC SHRINKFILE(N'%s', 0) WITH NO_INFOMSGS";

// Placeholders: the quoted database name, the inside of the path's literal.
constexpr char kBackup[] =
    "BACKUP DATABASE %s TO DISK = N'%s' WITH INIT, COMPRESSION, STATS = 10";

bool refuse(const char *message) {
  qv_seterr("%s", message);
  return false;
}

bool files(admin_request &r, qv_session_plan &plan, const qv_conn &conn, const char *database) {
  if (!qv_choose_database(database, conn, kInvalidDatabase, &plan.database)) return false;
  r.sql = qv_formatted(kFiles, qv_bracketed(plan.database).c_str());
  r.max_rows = kFilesMaxRows;
  return true;
}

// Only the call's own database argument filters the history.
bool history(admin_request &r, qv_session_plan &plan, const char *database) {
  bool filtered = database && *database;
  if (filtered && !qv_name_legal(database)) return refuse(kInvalidDatabase);
  r.sql = qv_formatted(kHistory, filtered ? kHistoryFilterOpen : "",
                       filtered ? qv_literal_inside(database).c_str() : "",
                       filtered ? kHistoryFilterClose : "");
  r.max_rows = kHistoryMaxRows;
  plan.database = "msdb";
  return true;
}

bool shrink(admin_request &r, qv_session_plan &plan, const qv_conn &conn, const char *database,
            const char *file) {
  if (!file || !*file) return refuse("shrink requires arg = logical file name");
  if (!qv_name_legal(file)) return refuse("invalid file name");
  if (!qv_choose_database(database, conn, kInvalidDatabase, &plan.database)) return false;
  r.sql = qv_formatted(kShrink, qv_literal_inside(file).c_str());
  r.max_rows = kShrinkMaxRows;
  plan.unlimited_wait = true;
  return true;
}

bool backup(admin_request &r, qv_session_plan &plan, const qv_conn &conn, const char *database,
            const char *path) {
  if (!path || !*path) return refuse("backup requires arg = destination file path");
  if (!qv_text_legal(path)) return refuse("invalid path");
  std::string target;
  if (!qv_choose_database(database, conn, kInvalidDatabase, &target)) return false;
  r.sql = qv_formatted(kBackup, qv_bracketed(target).c_str(), qv_literal_inside(path).c_str());
  r.shape = reply_shape::action_rowset;
  r.fallback = "backup failed";
  plan.database = "master";
  plan.unlimited_wait = true;
  return true;
}

}  // namespace

bool qv_impl_storage::check(const qv_conn &conn, qv_session_plan &plan) {
  if (std::strcmp(action, "files") == 0) return files(request, plan, conn, database);
  if (std::strcmp(action, "history") == 0) return history(request, plan, database);
  if (std::strcmp(action, "shrink") == 0) return shrink(request, plan, conn, database, arg);
  if (std::strcmp(action, "backup") == 0) return backup(request, plan, conn, database, arg);
  qv_seterr("unknown storage action: %s (files|shrink|backup|history)", action);
  return false;
}

}  // namespace qv::ops::admin
