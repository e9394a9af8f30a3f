// The sample catalog's answers for the admin demo: the activity monitor's
// sessions view and the file list of the demo database.
#include "demo_script.h"

namespace tds::demo {

namespace {

ResultSet sessions() {
  ResultSet rs;
  rs.columns = {
      {"spid", Type::SmallInt, 0, 0, 0, false},   {"database_name", Type::NVarChar, 128},
      {"login_name", Type::NVarChar, 128},         {"host_name", Type::NVarChar, 128},
      {"program_name", Type::NVarChar, 128},       {"session_status", Type::NVarChar, 30},
      {"request_status", Type::NVarChar, 30},      {"command", Type::NVarChar, 32},
      {"cpu_time", Type::Int},                     {"total_elapsed_time", Type::Int},
      {"blocking_session_id", Type::SmallInt},     {"wait_type", Type::NVarChar, 60},
      {"wait_time", Type::Int},                    {"statement", Type::NVarChar, 0},
  };
  // An idle session that holds the lock the second one waits for, and the
  // monitor's own request.
  rs.rows = {
      {"51", std::nullopt, "sa", "quorvex", "quorvex-dbdesk-core", "sleeping", std::nullopt,
       std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
       std::nullopt},
      {"52", "demo", "app", "web01", "orders-api", "running", "suspended", "UPDATE", "15", "30250",
       "51", "LCK_M_U", "30120", "UPDATE dbo.items SET qty = qty - 1 WHERE id = 7"},
      {"53", "master", "sa", "quorvex", "quorvex-dbdesk-core", "running", "running", "SELECT", "0",
       "2", "0", std::nullopt, "0", "SELECT s.session_id AS spid FROM sys.dm_exec_sessions s"},
  };
  return rs;
}

ResultSet demo_files() {
  ResultSet rs;
  rs.columns = {
      {"logical_name", Type::NVarChar, 128, 0, 0, false}, {"used_pages", Type::BigInt},
      {"size_pages", Type::Int, 0, 0, 0, false},          {"free_pages", Type::Int},
      {"free_mb", Type::Int},                             {"file_type", Type::NVarChar, 60},
      {"physical_name", Type::NVarChar, 260, 0, 0, false},
  };
  rs.rows = {
      {"demo", "1840", "2048", "208", "1", "ROWS", "/var/opt/mssql/data/demo.mdf"},
      {"demo_log", "96", "1024", "928", "7", "LOG", "/var/opt/mssql/data/demo_log.ldf"},
  };
  return rs;
}

}  // namespace

void register_admin_demo(Server &server) {
  server.on_regex(R"(^SELECT s\.session_id AS spid, .* OUTER APPLY sys\.dm_exec_sql_text)",
                  {sessions()});
  server.on_regex(R"(^SELECT f\.name AS logical_name, .* FROM \[demo\]\.sys\.database_files f )",
                  {demo_files()});
}

}  // namespace tds::demo
