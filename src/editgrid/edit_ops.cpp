#include "editgrid/edit_ops.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "common/json_read.h"
#include "common/names.h"
#include "common/text.h"
#include "editgrid/code_page.h"
#include "exec/render.h"

namespace qv::ops::editgrid {

namespace {

using rapidjson::SizeType;
using Value = qv_json_value;

// Standard JSON only (UTF-8 validated, no comments or trailing commas, one
// value), parsed as every input document is, with numbers handed over as
// their text.
constexpr unsigned kParseFlags = kJsonReadFlags | rapidjson::kParseNumbersAsStringsFlag;

// Builds the document from the reader's events, keeping a number as a
// string value that points at its text and noting where that text starts.
struct number_marker {
  qv_json_document &doc;
  std::vector<const char *> &numbers;

  bool Null() { return doc.Null(); }
  bool Bool(bool b) { return doc.Bool(b); }
  bool Int(int i) { return doc.Int(i); }
  bool Uint(unsigned i) { return doc.Uint(i); }
  bool Int64(std::int64_t i) { return doc.Int64(i); }
  bool Uint64(std::uint64_t i) { return doc.Uint64(i); }
  bool Double(double d) { return doc.Double(d); }
  bool RawNumber(const char *s, SizeType n, bool copy) {
    numbers.push_back(s);
    return doc.String(s, n, copy);
  }
  bool String(const char *s, SizeType n, bool copy) { return doc.String(s, n, copy); }
  bool StartObject() { return doc.StartObject(); }
  bool Key(const char *s, SizeType n, bool copy) { return doc.Key(s, n, copy); }
  bool EndObject(SizeType n) { return doc.EndObject(n); }
  bool StartArray() { return doc.StartArray(); }
  bool EndArray(SizeType n) { return doc.EndArray(n); }
};

std::string_view text_of(const Value &v) { return {v.GetString(), v.GetStringLength()}; }

// N'...' with quotes doubled. Refused: a text that is not a legal caller
// text (U+0000 would end it early, and the shorter text could match
// another row).
bool string_literal(std::string_view s, std::string *out) {
  if (!qv_text_legal(s)) return false;
  *out = qv_literal(s);
  return true;
}

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// A binary column's value as the grid shows it, 0x and an even number of hex
// digits, written as that binary constant; anything else is refused.
bool binary_literal(std::string_view s, std::string *out) {
  if (s.size() < 2 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
  if (s.size() % 2 != 0) return false;
  if (!std::all_of(s.begin() + 2, s.end(), is_hex)) return false;
  out->assign(s);
  return true;
}

// The ISO 8601 literal of a date text the load writes for a column of this
// kind: the same value, read the same way whatever the session's language
// and date format. False when the text is not the load's form for it (a
// date with a time of day, a time on another day than the load shows, an
// offset where the type has none or none where it has one).
bool iso_date_literal(std::string_view text, eg_date_kind kind, std::string *out) {
  qv_date_parts p;
  if (kind == eg_date_kind::none || !qv_read_date_text(text, &p)) return false;
  if (p.has_offset != (kind == eg_date_kind::datetimeoffset)) return false;
  const std::string_view fraction(p.fraction, static_cast<std::size_t>(p.fraction_digits));
  const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0 &&
                        fraction.find_first_not_of('0') == std::string_view::npos;
  if (kind == eg_date_kind::date && !midnight) return false;
  if (kind == eg_date_kind::time && (p.year != 1900 || p.month != 1 || p.day != 1)) return false;
  std::string iso = "'";
  char part[16];
  if (kind != eg_date_kind::time) {
    std::snprintf(part, sizeof part, "%04d-%02d-%02d", p.year, p.month, p.day);
    iso += part;
  }
  if (kind != eg_date_kind::date) {
    std::snprintf(part, sizeof part, "%s%02d:%02d:%02d", kind == eg_date_kind::time ? "" : "T",
                  p.hour, p.minute, p.second);
    iso += part;
    if (!fraction.empty()) iso += "." + std::string(fraction);
  }
  if (p.has_offset) {
    const int m = p.offset_minutes < 0 ? -p.offset_minutes : p.offset_minutes;
    std::snprintf(part, sizeof part, "%c%02d:%02d", p.offset_minutes < 0 ? '-' : '+', m / 60,
                  m % 60);
    iso += part;
  }
  *out = iso + "'";
  return true;
}

std::string message(const char *fmt, std::string_view arg) {
  char buf[kEditErrorSize];
  qv_format_cut(buf, sizeof buf, fmt, std::string(arg).c_str());
  return buf;
}

// Builds the statement of one operation; on failure sets the plan's
// operation error or column error and returns false.
class statement_builder {
 public:
  statement_builder(const eg_target &target, const eg_ops_doc &doc, eg_plan *plan)
      : t_(target), doc_(doc), plan_(plan) {}

  // position: the operation's place in the list, from 1.
  bool build(const Value &op, int position, std::string *sql) {
    if (doc_.kind_of(op) != eg_ops_doc::kind::object || op.MemberCount() == 0)
      return op_error("operation missing 'op'");
    const Value *name = qv_json_member(op, "op");
    if (!name || doc_.kind_of(*name) != eg_ops_doc::kind::string)
      return op_error("operation missing 'op'");
    const Value *pk = object_member(op, "pk");
    const Value *values = object_member(op, "values");
    std::string_view kind = text_of(*name);
    if (kind == "insert") {
      if (!values) return op_error("insert needs 'values' object");
      return insert(*values, sql);
    }
    if (kind == "update") {
      if (!pk) return op_error("update needs 'pk' object");
      if (!values) return op_error("update needs 'values' object");
      return update(*pk, *values, position, sql);
    }
    if (kind == "delete") {
      if (!pk) return op_error("delete needs 'pk' object");
      *sql = "DELETE FROM " + t_.name + " WHERE ";
      return key_conditions(*pk, sql);
    }
    return op_error(message("unknown op '%s' (update|insert|delete)", kind));
  }

 private:
  static const Value *object_member(const Value &op, const char *key) {
    const Value *v = qv_json_member(op, key);
    return v && v->IsObject() ? v : nullptr;
  }

  bool op_error(std::string text) {
    plan_->op_error = std::move(text);
    return false;
  }
  bool column_error(const char *fmt, std::string_view name) {
    plan_->column_error = message(fmt, name);
    return false;
  }

  // The column a values key names; null (error set) when none or several.
  const qv_table_column *resolve(std::string_view key) {
    int i = find_col_i(t_.columns, key);
    if (i >= 0) return &t_.columns[static_cast<std::size_t>(i)];
    if (i == kAmbiguousColumn) column_error("ambiguous column: %s", key);
    else column_error("unknown column '%s'", key);
    return nullptr;
  }

  // The literal of a value to store in col; a text that the column's code
  // page cannot hold is refused rather than stored with '?' in its place.
  bool value_literal(const Value &v, const qv_table_column &col, std::string_view key,
                     std::string *lit) {
    if (!lit_from_json(doc_, v, &col, lit))
      return column_error("unsupported value for column '%s'", key);
    const int code_page = eg_narrow_code_page(col);
    if (doc_.kind_of(v) == eg_ops_doc::kind::string && !code_pages_.holds(code_page, text_of(v))) {
      char buf[kEditErrorSize];
      qv_format_cut(buf, sizeof buf,
                    "value for column '%s' has characters that code page %d cannot hold",
                    std::string(key).c_str(), code_page);
      plan_->column_error = buf;
      return false;
    }
    return true;
  }

  // "[k1] = v1 AND [k2] = v2 ...": every key column, matched by its exact name.
  bool key_conditions(const Value &pk, std::string *sql) {
    const char *sep = "";
    for (const std::string &key : t_.key) {
      const Value *v = qv_json_member(pk, key.c_str());
      std::string lit;
      if (!v || !lit_from_json(doc_, *v, eg_exact_col(t_.columns, key), &lit))
        return column_error("missing PK value for '%s'", key);
      *sql += sep + qv_bracketed(key) + " = " + lit;
      sep = " AND ";
    }
    return true;
  }

  // Columns the server fills (identity, computed, rowversion, GENERATED
  // ALWAYS) are never assigned; values given for them are ignored.
  bool update(const Value &pk, const Value &values, int position, std::string *sql) {
    *sql = "UPDATE " + t_.name + " SET ";
    const char *sep = "";
    for (auto m = values.MemberBegin(); m != values.MemberEnd(); ++m) {
      std::string_view key = text_of(m->name);
      const qv_table_column *col = resolve(key);
      if (!col) return false;
      if (col->is_read_only()) continue;
      std::string lit;
      if (!value_literal(m->value, *col, key, &lit)) return false;
      *sql += sep + qv_bracketed(col->name) + " = " + lit;
      sep = ", ";
    }
    if (!*sep) {
      char buf[kEditErrorSize];
      qv_format_cut(buf, sizeof buf, "operation %d changes no editable column", position);
      return op_error(buf);
    }
    *sql += " WHERE ";
    return key_conditions(pk, sql);
  }

  bool insert(const Value &values, std::string *sql) {
    struct kept_value {
      const qv_table_column *col;
      const Value *value;
      std::string_view key;
    };
    std::vector<kept_value> kept;
    for (auto m = values.MemberBegin(); m != values.MemberEnd(); ++m) {
      std::string_view key = text_of(m->name);
      const qv_table_column *col = resolve(key);
      if (!col) return false;
      // An insert may name an identity column (IDENTITY_INSERT); the
      // other columns the server fills take no value.
      if (!col->is_read_only() || col->is_identity) kept.push_back({col, &m->value, key});
    }
    if (kept.empty()) {
      *sql = qv_formatted(kInsertDefaultValues, t_.name.c_str());
      return true;
    }
    std::string names, literals;
    const char *sep = "";
    for (const kept_value &k : kept) {
      std::string lit;
      if (!value_literal(*k.value, *k.col, k.key, &lit)) return false;
      names += sep + qv_bracketed(k.col->name);
      literals += sep + lit;
      sep = ", ";
    }
    *sql = "INSERT INTO " + t_.name + " (" + names + ") VALUES (" + literals + ")";
    return true;
  }

  const eg_target &t_;
  const eg_ops_doc &doc_;
  eg_plan *plan_;
  eg_code_pages code_pages_;
};

}  // namespace

bool eg_ops_doc::parse(const char *text) {
  qv_json_parse_copy(text, &text_);
  numbers_.clear();
  bool ok = false;
  auto generate = [&](qv_json_document &d) {
    number_marker handler{d, numbers_};
    rapidjson::InsituStringStream in(text_.data());
    qv_json_reader reader;
    ok = !reader.Parse<kParseFlags>(in, handler).IsError();
    return ok;
  };
  doc_.Populate(generate);
  return ok && qv_json_texts_valid(doc_);
}

const qv_json_value *eg_ops_doc::operations() const {
  const Value *ops = &doc_;
  if (doc_.IsObject()) ops = qv_json_member(doc_, "ops");
  if (!ops || !ops->IsArray() || ops->Empty()) return nullptr;
  return ops;
}

eg_ops_doc::kind eg_ops_doc::kind_of(const qv_json_value &v) const {
  switch (v.GetType()) {
    case rapidjson::kNullType: return kind::null;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType: return kind::boolean;
    case rapidjson::kObjectType: return kind::object;
    case rapidjson::kArrayType: return kind::array;
    case rapidjson::kNumberType: return kind::number;
    case rapidjson::kStringType: break;
  }
  // Numbers are held as string values pointing at their own text, which no
  // string's content can start at.
  return std::binary_search(numbers_.begin(), numbers_.end(), v.GetString()) ? kind::number
                                                                              : kind::string;
}

bool lit_from_json(const eg_ops_doc &doc, const qv_json_value &v, const qv_table_column *col,
                   std::string *out) {
  // A bare number against a text column would convert every row's value to
  // a number (int ranks above the character types): '7', '07' and ' 7' would
  // all match, and the first non-numeric value would fail the statement.
  const bool as_text = col && eg_takes_text(*col);
  switch (doc.kind_of(v)) {
    case eg_ops_doc::kind::null: *out = "NULL"; return true;
    case eg_ops_doc::kind::boolean:
      *out = v.GetBool() ? (as_text ? "N'1'" : "1") : (as_text ? "N'0'" : "0");
      return true;
    // A JSON number is always a valid T-SQL numeric literal: sent as written.
    case eg_ops_doc::kind::number:
      *out = as_text ? qv_literal(text_of(v)) : std::string(text_of(v));
      return true;
    case eg_ops_doc::kind::string:
      if (col && eg_is_binary(*col)) return binary_literal(text_of(v), out);
      if (col && iso_date_literal(text_of(v), eg_date_kind_of(*col), out)) return true;
      return string_literal(text_of(v), out);
    default: return false;
  }
}

eg_plan eg_build_statements(const eg_target &target, const eg_ops_doc &doc,
                            const qv_json_value &ops) {
  eg_plan plan;
  statement_builder builder(target, doc, &plan);
  int index = 0;
  for (const Value &op : ops.GetArray()) {
    if (index++ == kMaxOperations) {
      plan.op_error = "too many operations (max 256)";
      break;
    }
    std::string sql;
    try {
      if (!builder.build(op, index, &sql)) break;
    } catch (const std::bad_alloc &) {
      plan.op_error = "out of memory";
      break;
    }
    plan.statements.push_back(std::move(sql));
  }
  return plan;
}

}  // namespace qv::ops::editgrid
