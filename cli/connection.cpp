#include "connection.h"

#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "input.h"
#include "usage.h"

void add_conn_options(CLI::App &cmd, conn_options &o) {
  const char *group = "Connection";
  cmd.add_option("--conn", o.conn,
                 "connection document: a file, or the JSON text itself (without a password)")
      ->group(group);
  cmd.add_option("-S,--server", o.server, "server as host[,port] (instead of --host and --port)")
      ->group(group);
  cmd.add_option("--host", o.host, "server host name or address")->group(group);
  cmd.add_option("--port", o.port, "TCP port (1433)")->check(CLI::Range(1, 65535))->group(group);
  cmd.add_option("--user", o.user, "login name")->group(group);
  cmd.add_option("--database", o.database, "database to work in")->group(group);
  cmd.add_option("--app-name", o.app_name, "application name the server sees")->group(group);
  cmd.add_option("--timeout", o.timeout, "login and statement time-out in seconds (1..120)")
      ->check(CLI::Range(1, 120))
      ->group(group);
}

namespace {

using rapidjson::Document;
using rapidjson::Value;

bool looks_inline(const std::string &s) {
  auto at = s.find_first_not_of(" \t\r\n");
  return at != std::string::npos && (s[at] == '{' || s[at] == '[');
}

Document parse_document(const std::string &text, const std::string &source) {
  Document d;
  d.Parse(text.c_str(), text.size());
  if (d.HasParseError())
    throw usage_error("--conn " + source + " is not valid JSON: " +
                      rapidjson::GetParseError_En(d.GetParseError()) + " (at byte " +
                      std::to_string(d.GetErrorOffset()) + ")");
  if (!d.IsObject()) throw usage_error("--conn " + source + " must be a JSON object");
  return d;
}

// The --conn document (an empty object without --conn), and whether its
// password may be used.
Document base_document(const conn_options &o) {
  if (o.conn.empty()) {
    Document d;
    d.SetObject();
    return d;
  }
  if (looks_inline(o.conn)) {
    Document d = parse_document(o.conn, "text");
    if (d.HasMember("password"))
      throw usage_error("--conn text must not carry a password: use DBDESK_PASSWORD or a --conn file");
    return d;
  }
  return parse_document(read_file(o.conn), "file " + o.conn);
}

void set_member(Document &d, const char *key, Value v) {
  auto &a = d.GetAllocator();
  if (d.HasMember(key)) d[key] = v;
  else d.AddMember(Value(key, a), v, a);
}

void set_text(Document &d, const char *key, const std::string &s) {
  set_member(d, key, Value(s.c_str(), static_cast<rapidjson::SizeType>(s.size()), d.GetAllocator()));
}

// Reads a line from the terminal with echo off; nothing when there is no
// terminal.
std::optional<std::string> prompt_password(const Document &d) {
  FILE *tty = std::fopen("/dev/tty", "r+");
  if (!tty) return std::nullopt;
  const char *user = d.HasMember("user") && d["user"].IsString() ? d["user"].GetString() : "";
  std::fprintf(tty, "Password for %s: ", user);
  std::fflush(tty);
  termios saved{};
  const bool have_termios = tcgetattr(fileno(tty), &saved) == 0;
  if (have_termios) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
  }
  std::string line;
  for (int c; (c = std::fgetc(tty)) != EOF && c != '\n';) line += static_cast<char>(c);
  if (have_termios) tcsetattr(fileno(tty), TCSAFLUSH, &saved);
  std::fputc('\n', tty);
  std::fclose(tty);
  return line;
}

void require_text(const Document &d, const char *key, const char *flag) {
  if (!d.HasMember(key) || !d[key].IsString() || d[key].GetStringLength() == 0)
    throw usage_error(std::string("no ") + key + " given: use " + flag + " or a --conn document with \"" +
                      key + "\"");
}

// The library would quietly use 1433 instead of a port out of range.
void require_port(const Document &d) {
  if (!d.HasMember("port")) return;
  const Value &p = d["port"];
  if (!p.IsInt() || p.GetInt() < 1 || p.GetInt() > 65535)
    throw usage_error("--conn port must be a whole number from 1 to 65535");
}

bool has_member(const Document &d, const char *key) { return d.HasMember(key) && !d[key].IsNull(); }

// "host" or "host,port" into the document; `source` names it in refusals.
void set_server(Document &d, const std::string &server, const std::string &source, bool with_port) {
  const auto comma = server.rfind(',');
  const std::string host = server.substr(0, comma);
  if (host.empty()) throw usage_error(source + " must be host or host,port");
  set_text(d, "host", host);
  if (comma == std::string::npos) return;
  const std::string port = server.substr(comma + 1);
  const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
  const int n = digits ? std::stoi(port) : 0;
  if (n < 1 || n > 65535) throw usage_error(source + ": the port must be a whole number from 1 to 65535");
  if (with_port) set_member(d, "port", Value(n));
}

// What neither the flags nor the document said, from the environment.
void environment_defaults(Document &d) {
  const char *server = std::getenv("DBDESK_SERVER");
  if (server && *server && !has_member(d, "host")) set_server(d, server, "DBDESK_SERVER", !has_member(d, "port"));
  const char *user = std::getenv("DBDESK_USER");
  if (user && *user && !has_member(d, "user")) set_text(d, "user", user);
  const char *database = std::getenv("DBDESK_DATABASE");
  if (database && *database && !has_member(d, "database")) set_text(d, "database", database);
}

Document merged_document(const conn_options &o) {
  if (o.server && (o.host || o.port))
    throw usage_error("give the server either with -S host[,port] or with --host and --port, not both");
  Document d = base_document(o);
  if (o.server) set_server(d, *o.server, "-S", true);
  if (o.host) set_text(d, "host", *o.host);
  if (o.user) set_text(d, "user", *o.user);
  if (o.database) set_text(d, "database", *o.database);
  if (o.app_name) set_text(d, "app_name", *o.app_name);
  if (o.port) set_member(d, "port", Value(*o.port));
  if (o.timeout) set_member(d, "timeout_s", Value(*o.timeout));
  environment_defaults(d);
  require_text(d, "host", "-S, --host, DBDESK_SERVER");
  require_text(d, "user", "--user, DBDESK_USER");
  require_port(d);
  if (const char *env = std::getenv("DBDESK_PASSWORD")) set_text(d, "password", env);
  else if (!d.HasMember("password")) {
    std::optional<std::string> typed = prompt_password(d);
    if (!typed) throw usage_error("no password given and no terminal to ask on: set DBDESK_PASSWORD");
    set_text(d, "password", *typed);
  }
  return d;
}

std::string text_of(const Document &d, const char *key) {
  return d.HasMember(key) && d[key].IsString() ? d[key].GetString() : "";
}

int int_of(const Document &d, const char *key) {
  return d.HasMember(key) && d[key].IsInt() ? d[key].GetInt() : 0;
}

}  // namespace

std::string conn_document(const conn_options &o) {
  Document d = merged_document(o);
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> w(sb);
  d.Accept(w);
  return sb.GetString();
}

conn_fields conn_fields_of(const conn_options &o) {
  Document d = merged_document(o);
  return {text_of(d, "host"), text_of(d, "user"), text_of(d, "password"),
          text_of(d, "database"), int_of(d, "port"), int_of(d, "timeout_s")};
}

std::string with_tag(const std::string &conn_json, const std::string &tag) {
  Document d = parse_document(conn_json, "text");
  set_text(d, "tag", tag);
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> w(sb);
  d.Accept(w);
  return sb.GetString();
}
