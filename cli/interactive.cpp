#include "interactive.h"

#include <editline/readline.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "connection.h"
#include "interrupt.h"

namespace {

std::string trimmed(const std::string &s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string history_path() {
  const char *home = std::getenv("HOME");
  return home && *home ? std::string(home) + "/.dbdesk_history" : std::string();
}

// One batch (its GO line included, which carries the count), cancelled by
// Ctrl-C through a tag of its own.
void run_batch(const std::string &conn_json, const char *database, const std::string &sql,
               const stream_settings &s, const stream_target &out) {
  const std::string tag = new_run_tag();
  interrupt_guard guard(tag);
  stream_query(with_tag(conn_json, tag), database, sql, s, out, stderr);
}

}  // namespace

bool is_go_line(const std::string &line) {
  static const std::regex go(R"(^\s*[Gg][Oo](\s+[0-9]+)?\s*$)");
  return std::regex_match(line, go);
}

int run_interactive(const std::string &conn_json, const char *database, const stream_settings &s,
                    const stream_target &out) {
  // libedit's own signal handling would leave the terminal in cooked mode
  // after a Ctrl-C at the prompt; SIGINT is simply ignored there instead.
  rl_catch_signals = 0;
  const std::string history = history_path();
  using_history();
  if (!history.empty()) read_history(history.c_str());
  // At the prompt Ctrl-C does not end dbdesk; while a batch runs it cancels it.
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, &previous);
  std::fputs("Type statements; a line holding GO runs them. :quit or Ctrl-D leaves.\n", stderr);
  std::string batch;
  int line_no = 1;
  while (true) {
    const std::string prompt = std::to_string(line_no) + "> ";
    char *raw = readline(prompt.c_str());
    if (!raw) break;  // Ctrl-D
    const std::string line = raw;
    std::free(raw);
    const std::string t = trimmed(line);
    if (!t.empty()) add_history(line.c_str());
    if (batch.empty() && (t == ":quit" || t == ":exit")) break;
    if (!is_go_line(t)) {
      batch += line + "\n";
      ++line_no;
      continue;
    }
    if (!trimmed(batch).empty()) run_batch(conn_json, database, batch + t, s, out);
    batch.clear();
    line_no = 1;
  }
  std::fputc('\n', stderr);
  if (!history.empty()) write_history(history.c_str());
  sigaction(SIGINT, &previous, nullptr);
  return 0;
}
