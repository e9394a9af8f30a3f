#include "stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/writer.h>

#include "cells.h"
#include "json_copy.h"
#include "quorvex/dbdesk_core.h"
#include "usage.h"

namespace {

using rapidjson::SizeType;
using rapidjson::Value;


const Value *member(const Value &obj, const char *key) {
  if (!obj.IsObject()) return nullptr;
  auto it = obj.FindMember(key);
  return it == obj.MemberEnd() ? nullptr : &it->value;
}

int int_member(const Value &obj, const char *key) {
  const Value *v = member(obj, key);
  if (!v) return 0;
  if (v->IsInt()) return v->GetInt();
  return v->IsString() ? std::atoi(v->GetString()) : 0;  // numbers are kept as text
}

std::string text_member(const Value &obj, const char *key) {
  const Value *v = member(obj, key);
  return v ? cell_text(*v, "") : std::string();
}

// The text of an event's last member (its array or object), which every
// event writes after its short members: `{"event":"rows",...,"rows":[...]}`.
std::string_view last_member(std::string_view event, std::string_view key) {
  const std::string needle = "\"" + std::string(key) + "\":";
  std::size_t at = event.find(needle + "[");
  if (at == std::string_view::npos) at = event.find(needle + "{");
  if (at == std::string_view::npos || event.size() < 2) return {};
  at += needle.size();
  return event.substr(at, event.size() - 1 - at);
}

// A rapidjson output stream over a FILE.
struct file_stream {
  using Ch = char;
  std::FILE *f;
  void Put(char c) { putc_unlocked(c, f); }
  void Flush() {}
};

// One output format. Each receives every event, parsed and as text.
class sink {
 public:
  virtual ~sink() = default;
  virtual void event(const std::string &kind, const Value &ev, std::string_view text) = 0;
  // The call's summary (or the error envelope) once it has returned.
  virtual void finish(const char *summary) = 0;
};

class jsonl_sink : public sink {
 public:
  explicit jsonl_sink(std::FILE *out) : out_(out) {}
  void event(const std::string &, const Value &, std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
  }
  void finish(const char *summary) override { std::fprintf(out_, "%s\n", summary); }

 private:
  std::FILE *out_;
};

class csv_sink : public sink {
 public:
  explicit csv_sink(std::FILE *out) : out_(out) {}
  void event(const std::string &kind, const Value &ev, std::string_view) override {
    if (kind == "columns") {
      if (sets_++) std::fputs("\r\n", out_);  // an empty line between result sets
      const Value *cols = member(ev, "columns");
      if (cols && cols->IsArray()) line(*cols, true);
    } else if (kind == "rows") {
      const Value *rows = member(ev, "rows");
      if (rows && rows->IsArray())
        for (const auto &row : rows->GetArray())
          if (row.IsArray()) line(row, false);
    }
  }
  void finish(const char *) override {}

 private:
  void line(const Value &cells, bool names) {
    bool first = true;
    for (const auto &cell : cells.GetArray()) {
      if (!first) std::fputc(',', out_);
      first = false;
      std::fputs(csv_field(names ? text_member(cell, "name") : cell_text(cell, "")).c_str(), out_);
    }
    std::fputs("\r\n", out_);
  }
  std::FILE *out_;
  int sets_ = 0;
};

// Columns sized by the names and the first chunk of rows; later rows keep
// those widths, cells wider than their column cut with "…".
class table_sink : public sink {
 public:
  explicit table_sink(std::FILE *out) : out_(out) {}
  void event(const std::string &kind, const Value &ev, std::string_view) override {
    if (kind == "columns") {
      names_.clear();
      width_.clear();
      sized_ = false;
      if (const Value *cols = member(ev, "columns"); cols && cols->IsArray())
        for (const auto &c : cols->GetArray()) names_.push_back(fit_cell(text_member(c, "name"), kTableCellMaxChars));
    } else if (kind == "rows") {
      std::vector<std::vector<std::string>> lines;
      if (const Value *rows = member(ev, "rows"); rows && rows->IsArray())
        for (const auto &row : rows->GetArray()) {
          auto &line = lines.emplace_back();
          if (row.IsArray())
            for (const auto &cell : row.GetArray()) line.push_back(cell_text(cell, "NULL"));
        }
      if (!sized_) size_by(lines);
      for (const auto &line : lines) print_line(line);
    } else if (kind == "result_end") {
      if (!sized_) size_by({});
      const int n = int_member(ev, "row_count");
      const Value *t = member(ev, "truncated");
      std::fprintf(out_, "(%d row%s%s)\n\n", n, n == 1 ? "" : "s",
                   t && t->IsTrue() ? ", cut at the row limit" : "");
    }
  }
  void finish(const char *) override {}

 private:
  void size_by(const std::vector<std::vector<std::string>> &lines) {
    for (const auto &n : names_) width_.push_back(display_width(n));
    for (const auto &line : lines)
      for (std::size_t i = 0; i < line.size() && i < width_.size(); ++i)
        width_[i] = std::max(width_[i], display_width(fit_cell(line[i], kTableCellMaxChars)));
    sized_ = true;
    print_line(names_);
    for (std::size_t i = 0; i < width_.size(); ++i)
      std::fprintf(out_, "%s%s", i ? "-+-" : "", std::string(width_[i], '-').c_str());
    std::fputc('\n', out_);
  }
  void print_line(const std::vector<std::string> &cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const std::size_t w = i < width_.size() ? width_[i] : kTableCellMaxChars;
      const std::string cell = fit_cell(cells[i], w);
      if (i) std::fputs(" | ", out_);
      std::fputs(cell.c_str(), out_);
      if (i + 1 < cells.size())
        for (std::size_t n = display_width(cell); n < w; ++n) std::fputc(' ', out_);
    }
    std::fputc('\n', out_);
  }
  std::FILE *out_;
  std::vector<std::string> names_;
  std::vector<std::size_t> width_;
  bool sized_ = false;
};

// The query reply's shape, written as the events come: batches, their
// result sets and (at each batch's end) their messages, then the summary.
template <class W>
class json_sink : public sink {
 public:
  json_sink(std::FILE *out, bool pretty) : stream_{out}, w_(stream_), pretty_(pretty), out_(out) {}
  void event(const std::string &kind, const Value &ev, std::string_view text) override {
    if (kind == "batch") {
      if (!started_) {
        started_ = true;
        w_.StartObject();
        w_.Key("batches");
        w_.StartArray();
      }
      w_.StartObject();
      w_.Key("batch");
      w_.Int(int_member(ev, "batch"));
      w_.Key("results");
      w_.StartArray();
    } else if (kind == "columns") {
      end_result(false);
      w_.StartObject();
      w_.Key("columns");
      copy_json(w_, last_member(text, "columns"));
      w_.Key("rows");
      w_.StartArray();
      in_result_ = true;
    } else if (kind == "rows") {
      if (in_result_) copy_json(w_, last_member(text, "rows"), true);
    } else if (kind == "result_end") {
      const Value *t = member(ev, "truncated");
      end_result(t && t->IsTrue());
    } else if (kind == "message") {
      messages_.emplace_back(last_member(text, "message"));
    } else if (kind == "batch_end") {
      end_result(false);
      w_.EndArray();
      w_.Key("messages");
      w_.StartArray();
      for (const auto &m : messages_) copy_json(w_, m);
      messages_.clear();
      w_.EndArray();
      w_.EndObject();
    }
  }
  void finish(const char *summary) override {
    rapidjson::Document d;
    d.Parse<kExactNumbers>(summary);
    if (!started_ || d.HasParseError()) {  // nothing ran: the envelope as it is
      if (!pretty_) {
        std::fprintf(out_, "%s\n", summary);
        return;
      }
      copy_json(w_, summary);
    } else {
      w_.EndArray();
      for (const char *key : {"ok", "spid", "elapsed_ms", "error"})
        if (const Value *v = member(d, key)) {
          w_.Key(key);
          if (v->IsString() && std::strcmp(key, "error") != 0) w_.RawValue(v->GetString(), v->GetStringLength(), rapidjson::kNumberType);
          else v->Accept(w_);
        }
      w_.EndObject();
    }
    std::fputc('\n', out_);
  }

 private:
  // Closes the open result set, if any: its rows and "truncated".
  void end_result(bool truncated) {
    if (!in_result_) return;
    in_result_ = false;
    w_.EndArray();
    w_.Key("truncated");
    w_.Bool(truncated);
    w_.EndObject();
  }
  file_stream stream_;
  W w_;
  bool pretty_;
  bool in_result_ = false;
  std::FILE *out_;
  bool started_ = false;
  std::vector<std::string> messages_;
};

struct pretty_writer : rapidjson::PrettyWriter<file_stream> {
  explicit pretty_writer(file_stream &s) : PrettyWriter(s) { SetIndent(' ', 2); }
};

std::unique_ptr<sink> make_sink(const output_options &o, std::FILE *out) {
  switch (o.format) {
    case out_format::jsonl: return std::make_unique<jsonl_sink>(out);
    case out_format::csv: return std::make_unique<csv_sink>(out);
    case out_format::table: return std::make_unique<table_sink>(out);
    case out_format::json:
    case out_format::text: break;
  }
  if (o.pretty) return std::make_unique<json_sink<pretty_writer>>(out, true);
  return std::make_unique<json_sink<rapidjson::Writer<file_stream>>>(out, false);
}

// A message on one line of the error stream: "print: text", "error 208:
// text", "info 5701: text".
void print_message(const Value &m, std::FILE *err) {
  std::string kind = text_member(m, "type");
  if (kind.empty()) kind = "message";
  if (kind != "print") kind += " " + text_member(m, "number");
  std::fprintf(err, "%s: %s\n", kind.c_str(), text_member(m, "text").c_str());
}

class run_state {
 public:
  run_state(const stream_settings &s, const stream_target &out, std::FILE *err)
      : s_(s), out_(out), err_(err), sink_(make_sink(s.out, out.file)) {}

  static int receive(void *user, const char *json, std::size_t len) {
    return static_cast<run_state *>(user)->on_event({json, len});
  }

  int finish(const char *summary) {
    if (!write_failed_) {
      sink_->finish(summary ? summary : "{\"ok\":false,\"error\":\"the library returned no reply\"}");
      flush();
    }
    rapidjson::Document d;
    d.Parse<kExactNumbers>(summary ? summary : "{}");
    const Value *ok = d.HasParseError() ? nullptr : member(d, "ok");
    const bool failed = !ok || !ok->IsTrue();
    // A failure the messages did not already tell (a login, a lost
    // connection, a time-out) is said once; stops this run asked for are not.
    if (failed && !saw_error_ && !write_failed_)
      std::fprintf(err_, "error: %s\n", summary ? text_member(d, "error").c_str() : "the library returned no reply");
    std::fflush(err_);
    return failed || saw_error_ || write_failed_ ? kExitRefused : kExitOk;
  }

 private:
  int on_event(std::string_view text) {
    if (write_failed_) return 1;
    rapidjson::Document d;
    d.Parse<kExactNumbers>(text.data(), text.size());
    if (d.HasParseError() || !d.IsObject()) return 0;
    const std::string kind = text_member(d, "event");
    int stop = 0;
    if (kind == "message") {
      if (const Value *m = member(d, "message")) {
        print_message(*m, err_);
        if (text_member(*m, "type") == "error" && int_member(*m, "severity") > 10) {
          saw_error_ = true;
          stop = s_.stop_on_error;
        }
      }
    } else if (kind == "count") {
      const int n = int_member(d, "rows_affected");
      std::fprintf(err_, "(%d row%s affected)\n", n, n == 1 ? "" : "s");
    }
    std::fflush(err_);
    sink_->event(kind, d, text);
    if (!flush()) return 1;
    return stop;
  }

  bool flush() {
    if (std::fflush(out_.file) == 0 && !std::ferror(out_.file)) return true;
    if (!write_failed_)
      std::fprintf(err_, "dbdesk: cannot write %s: %s\n", out_.name.c_str(), std::strerror(errno));
    write_failed_ = true;
    return false;
  }

  const stream_settings &s_;
  stream_target out_;
  std::FILE *err_;
  std::unique_ptr<sink> sink_;
  bool saw_error_ = false, write_failed_ = false;
};

}  // namespace

int stream_query(const std::string &conn_json, const char *database, const std::string &sql,
                 const stream_settings &s, const stream_target &out, std::FILE *err) {
  run_state state(s, out, err);
  char *summary = dbdesk_core_query_stream(conn_json.c_str(), database, sql.c_str(), s.max_rows,
                                           s.timeout_s, run_state::receive, &state);
  const int status = state.finish(summary);
  dbdesk_core_free(summary);
  return status;
}
