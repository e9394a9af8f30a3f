// dbdesk: the library's operations from a shell.
//   dbdesk SUBCOMMAND [options]     (dbdesk --help, dbdesk SUBCOMMAND --help)
// Exit status: 0 when the reply says "ok": true, 1 when the server or the
// operation said no, 2 when the command line is wrong.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>

#include "commands.h"
#include "quorvex/dbdesk_core.h"
#include "usage.h"

namespace {

// "dbdesk grid apply": the deepest subcommand reached so far.
std::string command_path(const CLI::App &app) {
  std::string path = app.get_name();
  const CLI::App *at = &app;
  while (true) {
    auto subs = at->get_subcommands();
    if (subs.empty()) return path;
    at = subs.front();
    path += " " + at->get_name();
  }
}

int usage(const CLI::App &app, const std::string &problem) {
  std::fprintf(stderr, "dbdesk: %s (see: %s --help)\n", problem.c_str(), command_path(app).c_str());
  return kExitUsage;
}

bool has_subcommand(const CLI::App &app, const std::string &name) {
  for (const CLI::App *sub : app.get_subcommands({}))
    if (sub->get_name() == name) return true;
  return false;
}

out_format format_of(const std::string &name) {
  if (name == "table") return out_format::table;
  if (name == "csv") return out_format::csv;
  if (name == "jsonl") return out_format::jsonl;
  if (name == "text") return out_format::text;
  return out_format::json;
}

int run(command_line &cl) {
  cl.out.format = format_of(cl.format);
  if (cl.out.pretty && cl.out.format != out_format::json)
    throw usage_error("--pretty indents JSON: it goes with --format json only");
  if (cl.run_plain) return cl.run_plain();
  char *reply = cl.call();
  int status = print_reply(reply, cl.out, stdout, stderr);
  dbdesk_core_free(reply);
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app("Microsoft SQL Server operations of quorvex-dbdesk-core from the command line.\n"
               "The password comes from DBDESK_PASSWORD or a prompt, never from the command line.",
               "dbdesk");
  app.require_subcommand(1);
  app.footer("Exit status: 0 when the reply says ok, 1 when the server or the operation said no,\n"
             "2 when the command line is wrong.");
  command_line cl;
  add_commands(app, cl);
  if (argc > 1 && argv[1][0] != '-' && !has_subcommand(app, argv[1]))
    return usage(app, std::string("unknown subcommand: ") + argv[1]);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    return usage(app, e.what());
  }
  try {
    return run(cl);
  } catch (const usage_error &e) {
    return usage(app, e.what());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "dbdesk: %s\n", e.what());
    return kExitRefused;
  }
}
