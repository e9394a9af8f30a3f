#include "commands.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>
#include <stdexcept>

#include "input.h"
#include "interactive.h"
#include "interrupt.h"
#include "quorvex/dbdesk_core.h"
#include "stream.h"
#include "usage.h"

namespace {

const char *opt(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }
const char *opt(const std::optional<std::string> &s) { return s && !s->empty() ? s->c_str() : nullptr; }

using formats = std::vector<std::string>;
const formats kReplyOnly = {"json"};
const formats kResultSets = {"json", "table", "csv"};

// --format, offering only what the subcommand's reply can be shown as (the
// first is the default), and --pretty.
void add_output_options(CLI::App &cmd, command_line &cl, const formats &offered, const char *help) {
  const char *group = "Output";
  cmd.add_flag("--pretty", cl.out.pretty, "indent the reply JSON")->group(group);
  cmd.add_option("--format", cl.format, help)->check(CLI::IsMember(offered))->group(group);
  cmd.preparse_callback([&cl, def = offered.front()](std::size_t) { cl.format = def; });
}

// A subcommand that talks to a server: connection and output options, and
// `make_call` chosen when the subcommand is on the command line.
CLI::App *operation(CLI::App &parent, const char *name, const char *help, command_line &cl,
                    std::function<char *()> make_call, const formats &offered = kResultSets) {
  CLI::App *cmd = parent.add_subcommand(name, help);
  add_conn_options(*cmd, cl.conn);
  add_output_options(*cmd, cl, offered,
                     offered.size() == 1 ? "json: the reply (the only form of this reply)"
                                         : "json (the reply), or its result set as a table or csv");
  cmd->callback([&cl, make_call] { cl.call = make_call; });
  return cmd;
}

void add_schema(CLI::App &cmd, command_line &cl) {
  cmd.add_option("--schema", cl.schema, "schema of the object (dbo)");
}

void add_version(CLI::App &app, command_line &cl) {
  app.add_subcommand("version", "print the library version")->callback([&cl] {
    cl.run_plain = [] {
      std::printf("%s\n", dbdesk_core_version());
      return 0;
    };
  });
}

void add_connect_test(CLI::App &app, command_line &cl) {
  auto *cmd = operation(app, "connect-test", "log in, report server version, database, session id and login time",
                        cl, [&cl] {
                          conn_fields f = conn_fields_of(cl.conn);
                          return dbdesk_core_connect_test(f.host.c_str(), f.port, f.user.c_str(),
                                                          f.password.c_str(), opt(f.database),
                                                          cl.encrypt, f.timeout);
                        }, kReplyOnly);
  cmd->add_flag("--encrypt", cl.encrypt, "demand an encrypted connection")->group("Connection");
}

void add_tree(CLI::App &app, command_line &cl) {
  auto *cmd = operation(app, "tree", "list the children of one object-explorer node", cl, [&cl] {
    // An object without a schema is looked up in dbo, as the help says.
    const char *schema = !cl.schema.empty() ? cl.schema.c_str() : cl.object.empty() ? nullptr : "dbo";
    return dbdesk_core_tree(conn_document(cl.conn).c_str(), cl.kind.c_str(), opt(cl.conn.database),
                            schema, opt(cl.object));
  }, kReplyOnly);
  cmd->add_option("kind", cl.kind, "node kind: server, databases, tables, columns, ...")->required();
  add_schema(*cmd, cl);
  cmd->add_option("--object", cl.object, "table or function whose children are listed");
}

// The output of a query: the --output file (created or emptied), or
// standard output. Closed, and its last writes checked, when it goes away.
class query_output {
 public:
  explicit query_output(const std::string &path) : path_(path) {
    if (path.empty()) return;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  }
  query_output(const query_output &) = delete;
  query_output &operator=(const query_output &) = delete;
  ~query_output() {
    if (file_) std::fclose(file_);
  }
  stream_target target() const { return {file_ ? file_ : stdout, file_ ? path_ : "standard output"}; }
  // Closes the file; false (said on standard error) when the last writes failed.
  bool close() {
    if (!file_) return true;
    const int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc == 0) return true;
    std::fprintf(stderr, "dbdesk: cannot write %s: %s\n", path_.c_str(), std::strerror(errno));
    return false;
  }

 private:
  std::string path_;
  std::FILE *file_ = nullptr;
};

int run_query(command_line &cl) {
  // No script and a terminal on standard input: the interactive mode.
  const bool interactive = cl.sql.empty() && cl.file.empty() && isatty(STDIN_FILENO);
  std::string sql = interactive ? std::string() : read_input(cl.sql, cl.file, "SQL");
  const std::string conn = conn_document(cl.conn);
  query_output output(cl.output);
  stream_settings s;
  s.out = cl.out;
  s.stop_on_error = cl.stop_on_error;
  s.max_rows = cl.max_rows;
  // The streamed query does not read the document's time-out: --timeout
  // reaches it here unless --query-timeout says otherwise.
  s.timeout_s = cl.query_timeout_given || !cl.conn.timeout ? cl.query_timeout : *cl.conn.timeout;
  if (interactive) {
    if (!cl.format_given) s.out.format = out_format::table;
    const int status = run_interactive(conn, opt(cl.conn.database), s, output.target());
    return output.close() ? status : kExitRefused;
  }
  const std::string tag = new_run_tag();
  int status;
  bool interrupted;
  {
    interrupt_guard guard(tag);
    status = stream_query(with_tag(conn, tag), opt(cl.conn.database), sql, s, output.target(), stderr);
    interrupted = guard.interrupted();
  }
  if (!output.close() && status == kExitOk) status = kExitRefused;
  return interrupted ? kExitInterrupted : status;
}

void add_query(CLI::App &app, command_line &cl) {
  CLI::App *cmd = app.add_subcommand(
      "query", "run a script of batches separated by GO lines, writing rows and messages as they arrive");
  add_conn_options(*cmd, cl.conn);
  add_output_options(*cmd, cl, {"json", "table", "csv", "jsonl"},
                     "json (the reply's shape), table, csv, or jsonl (every event, one JSON object a line)");
  cmd->callback([&cl, cmd] {
    cl.format_given = cmd->count("--format") > 0;
    cl.query_timeout_given = cmd->count("--query-timeout") > 0;
    cl.run_plain = [&cl] { return run_query(cl); };
  });
  cmd->add_option("sql", cl.sql,
                  "the script; - or nothing reads standard input (at a terminal: statements typed at a "
                  "prompt, run at each GO line)");
  cmd->add_option("--file", cl.file, "read the script from this file");
  cmd->add_option("--max-rows", cl.max_rows, "row limit per result set (0: no limit)")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("-o,--output", cl.output, "write the rows to this file instead of standard output");
  cmd->add_flag("-b,--stop-on-error", cl.stop_on_error,
                "stop at the first error above severity 10 (later batches are not sent)");
  cmd->add_option("--query-timeout", cl.query_timeout,
                  "login and statement time-out in seconds (0, the default: no statement limit; "
                  "without it --timeout is used)")
      ->check(CLI::NonNegativeNumber);
}

void add_kill(CLI::App &app, command_line &cl) {
  auto *cmd = operation(app, "kill", "end a server session by its id", cl, [&cl] {
    return dbdesk_core_kill_spid(conn_document(cl.conn).c_str(), cl.spid);
  }, kReplyOnly);
  cmd->add_option("spid", cl.spid, "session id (1..32767)")->required()->check(CLI::Range(1, 32767));
}

void add_script(CLI::App &app, command_line &cl) {
  auto *cmd = operation(app, "script", "generate a script for an object", cl, [&cl] {
    return dbdesk_core_script_object(conn_document(cl.conn).c_str(), opt(cl.conn.database),
                                     cl.kind.c_str(), opt(cl.schema), cl.object.c_str(),
                                     cl.action.c_str());
  }, {"text", "json"});
  cmd->add_option("kind", cl.kind, "table, view, procedure, function or trigger")->required();
  cmd->add_option("object", cl.object, "object name without schema")->required();
  cmd->add_option("action", cl.action,
                  "select_top, create, alter, drop, drop_create, insert, update, delete, exec_params, table_props")
      ->required();
  add_schema(*cmd, cl);
}

void add_grid(CLI::App &app, command_line &cl) {
  CLI::App *grid = app.add_subcommand("grid", "load a table for editing, or apply row edits");
  grid->require_subcommand(1);
  auto *load = operation(*grid, "load", "load a table's columns, key and rows", cl, [&cl] {
    return dbdesk_core_editgrid_load(conn_document(cl.conn).c_str(), opt(cl.conn.database),
                                     opt(cl.schema), cl.table.c_str(), cl.max_rows);
  });
  load->add_option("table", cl.table, "table name")->required();
  add_schema(*load, cl);
  load->add_option("--max-rows", cl.max_rows, "rows to load (200, at most 5000)")->check(CLI::NonNegativeNumber);

  auto *apply = operation(*grid, "apply", "apply row edits in one transaction", cl, [&cl] {
    std::string ops = read_input("", cl.file, "the edit operations");
    return dbdesk_core_editgrid_apply(conn_document(cl.conn).c_str(), opt(cl.conn.database),
                                      opt(cl.schema), cl.table.c_str(), ops.c_str(), cl.dry_run);
  }, kReplyOnly);
  apply->add_option("table", cl.table, "table name")->required();
  add_schema(*apply, cl);
  apply->add_option("--file", cl.file, "the edit operations (JSON); standard input without it");
  apply->add_flag("--dry-run", cl.dry_run, "return the statements without running them");
}

void add_activity(CLI::App &app, command_line &cl) {
  auto *cmd = operation(app, "activity", "report one activity view", cl, [&cl] {
    return dbdesk_core_activity(conn_document(cl.conn).c_str(), cl.view.c_str());
  });
  cmd->add_option("view", cl.view, "sessions, waits, expensive or blocking")->required();
}

void add_storage(CLI::App &app, command_line &cl) {
  auto *cmd = operation(app, "storage", "database files, shrink, backup and backup history", cl, [&cl] {
    return dbdesk_core_storage(conn_document(cl.conn).c_str(), opt(cl.conn.database),
                               cl.action.c_str(), opt(cl.arg));
  });
  cmd->add_option("action", cl.action, "files, shrink, backup or history")->required();
  cmd->add_option("arg", cl.arg, "logical file name (shrink) or destination path (backup)");
}

void add_admin(CLI::App &app, command_line &cl) {
  auto *cmd = operation(app, "admin", "SQL Agent jobs, logins, users, error log, query store", cl, [&cl] {
    return dbdesk_core_admin(conn_document(cl.conn).c_str(), cl.kind.c_str(), opt(cl.conn.database),
                             opt(cl.arg));
  });
  cmd->add_option("kind", cl.kind, "jobs, job_control, logins, db_users, errorlog or querystore")->required();
  cmd->add_option("arg", cl.arg, R"(job_control: {"job_id":"...","action":"start|stop|enable|disable"})");
}

}  // namespace

void add_commands(CLI::App &app, command_line &cl) {
  add_version(app, cl);
  add_connect_test(app, cl);
  add_tree(app, cl);
  add_query(app, cl);
  add_kill(app, cl);
  add_script(app, cl);
  add_grid(app, cl);
  add_activity(app, cl);
  add_storage(app, cl);
  add_admin(app, cl);
}
