#include "output.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>
#include <vector>

#include "cells.h"
#include "json_copy.h"
#include "usage.h"

namespace {

using rapidjson::SizeType;
using rapidjson::Value;


std::string pretty(const char *reply) {
  rapidjson::StringBuffer sb;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> w(sb);
  w.SetIndent(' ', 2);
  if (!copy_json(w, reply)) return reply;
  return sb.GetString();
}

const Value *member(const Value &obj, const char *key) {
  if (!obj.IsObject()) return nullptr;
  auto it = obj.FindMember(key);
  return it == obj.MemberEnd() ? nullptr : &it->value;
}

const Value *array_member(const Value &obj, const char *key) {
  const Value *v = member(obj, key);
  return v && v->IsArray() ? v : nullptr;
}

bool reply_ok(const Value &root) {
  const Value *ok = member(root, "ok");
  return ok && ok->IsTrue();
}

std::string column_name(const Value &col) {
  const Value *name = member(col, "name");
  return name && name->IsString() ? name->GetString() : cell_text(col, "");
}

struct result_set {
  const Value &columns;
  const Value &rows;
  bool truncated;
};

std::string table_cell(const std::string &s) { return fit_cell(s, kTableCellMaxChars); }

void pad(std::FILE *out, const std::string &s, std::size_t width) {
  std::fputs(s.c_str(), out);
  for (std::size_t n = display_width(s); n < width; ++n) std::fputc(' ', out);
}

void print_table(const result_set &rs, std::FILE *out) {
  std::vector<std::vector<std::string>> lines(1);
  for (const auto &col : rs.columns.GetArray()) lines[0].push_back(table_cell(column_name(col)));
  for (const auto &row : rs.rows.GetArray()) {
    auto &line = lines.emplace_back();
    if (row.IsArray())
      for (const auto &cell : row.GetArray()) line.push_back(table_cell(cell_text(cell, "NULL")));
  }
  std::vector<std::size_t> width;
  for (const auto &line : lines)
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (width.size() <= i) width.push_back(0);
      width[i] = std::max(width[i], display_width(line[i]));
    }
  for (std::size_t l = 0; l < lines.size(); ++l) {
    for (std::size_t i = 0; i < lines[l].size(); ++i) {
      if (i) std::fputs(" | ", out);
      pad(out, lines[l][i], i + 1 < lines[l].size() ? width[i] : 0);
    }
    std::fputc('\n', out);
    if (l == 0) {
      for (std::size_t i = 0; i < width.size(); ++i)
        std::fprintf(out, "%s%s", i ? "-+-" : "", std::string(width[i], '-').c_str());
      std::fputc('\n', out);
    }
  }
  const std::size_t n = lines.size() - 1;
  std::fprintf(out, "(%zu row%s%s)\n\n", n, n == 1 ? "" : "s", rs.truncated ? ", cut at the row limit" : "");
}

void print_csv_line(const Value &cells, bool names, std::FILE *out) {
  bool first = true;
  for (const auto &cell : cells.GetArray()) {
    if (!first) std::fputc(',', out);
    first = false;
    std::fputs(csv_field(names ? column_name(cell) : cell_text(cell, "")).c_str(), out);
  }
  std::fputs("\r\n", out);
}

void print_csv(const result_set &rs, bool first_set, std::FILE *out) {
  if (!first_set) std::fputs("\r\n", out);  // an empty line between result sets
  print_csv_line(rs.columns, true, out);
  for (const auto &row : rs.rows.GetArray())
    if (row.IsArray()) print_csv_line(row, false, out);
}

void print_messages(const Value &holder, std::FILE *out) {
  const Value *msgs = array_member(holder, "messages");
  if (!msgs) return;
  for (const auto &m : msgs->GetArray()) {
    const Value *type = member(m, "type"), *text = member(m, "text"), *number = member(m, "number");
    std::string kind = type && type->IsString() ? type->GetString() : "message";
    if (kind != "print" && number) kind += " " + cell_text(*number, "");
    std::fprintf(out, "%s: %s\n", kind.c_str(), text ? cell_text(*text, "").c_str() : "");
  }
}

class set_printer {
 public:
  set_printer(const output_options &o, std::FILE *out, std::FILE *err) : o_(o), out_(out), err_(err) {}

  void sets_of(const Value &holder) {
    const Value *columns = array_member(holder, "columns"), *rows = array_member(holder, "rows");
    if (!columns || !rows || columns->Empty()) return;  // a failed statement has no columns
    const Value *trunc = member(holder, "truncated");
    print({*columns, *rows, trunc && trunc->IsTrue()});
  }
  void messages_of(const Value &holder) { print_messages(holder, o_.format == out_format::csv ? err_ : out_); }
  bool printed_any() const { return sets_ > 0; }

 private:
  void print(const result_set &rs) {
    if (o_.format == out_format::table) print_table(rs, out_);
    else print_csv(rs, sets_ == 0, out_);
    ++sets_;
  }
  const output_options &o_;
  std::FILE *out_;
  std::FILE *err_;
  int sets_ = 0;
};

// Tables or CSV for every result set of the reply; false when it has none.
bool print_sets(const Value &root, const output_options &o, std::FILE *out, std::FILE *err) {
  set_printer p(o, out, err);
  if (const Value *batches = array_member(root, "batches")) {
    for (const auto &batch : batches->GetArray()) {
      if (const Value *results = array_member(batch, "results"))
        for (const auto &rs : results->GetArray()) p.sets_of(rs);
      p.messages_of(batch);
    }
    p.messages_of(root);
    return true;
  }
  p.sets_of(root);
  return p.printed_any();
}

}  // namespace

namespace {

// The script of a script reply, or its properties one a line.
void print_text(const Value &root, std::FILE *out) {
  const Value *sql = member(root, "sql");
  if (sql && sql->IsString()) {
    const std::string text = cell_text(*sql, "");
    std::fputs(text.c_str(), out);
    if (text.empty() || text.back() != '\n') std::fputc('\n', out);
    return;
  }
  const Value *props = member(root, "props");
  if (props && props->IsObject())
    for (const auto &m : props->GetObject())
      std::fprintf(out, "%s: %s\n", m.name.GetString(), cell_text(m.value, "").c_str());
}

}  // namespace

int print_reply(const char *reply, const output_options &o, std::FILE *out, std::FILE *err) {
  if (!reply) {
    std::fputs("dbdesk: the library returned no reply\n", err);
    return kExitRefused;
  }
  rapidjson::Document d;
  d.Parse<kExactNumbers>(reply);
  const bool ok = !d.HasParseError() && reply_ok(d);
  if (o.format == out_format::json || d.HasParseError()) {
    std::fprintf(out, "%s\n", o.pretty ? pretty(reply).c_str() : reply);
    return ok ? kExitOk : kExitRefused;
  }
  if (!ok) {
    print_messages(d, err);
    const Value *error = member(d, "error");
    std::fprintf(err, "error: %s\n", error ? cell_text(*error, "").c_str() : "unknown");
    return kExitRefused;
  }
  if (o.format == out_format::text) print_text(d, out);
  else print_sets(d, o, out, err);
  return kExitOk;
}
