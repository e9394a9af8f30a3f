// The edit statement builder over one fixed table (a two-column key, an
// identity, a rowversion, computed and generated columns, char with a code
// page, binary, every date and time type), with the fuzz input as the edit
// document. Every statement is well-formed UTF-8 and reads back, token by
// token, as one of the four statement shapes: the target's name, bracketed
// names of columns the statement may set (or the whole key, in key order,
// after WHERE), and values that are NULL, a JSON number for a non-text
// column, 0x hex for a binary one, an ISO literal of a date column's shape,
// or a string literal; no value leaves its quotes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "date_literal.h"
#include "editgrid/edit_ops.h"
#include "fuzz_support.h"

namespace {

using namespace qv::ops::editgrid;
using qv::exec::qv_table_column;
using qv::fuzz::quoted_token;

eg_target make_target() {
  eg_target t;
  t.name = "[sales]].db].[dbo].[Order's]";
  auto add = [&t](const char *name, const char *type) -> qv_table_column & {
    t.columns.push_back({name, type});
    return t.columns.back();
  };
  add("Id", "int").is_identity = true;
  add("Region", "varchar(20)").code_page = 1251;
  add("Name]x", "nvarchar(50)");
  add("name]X", "nvarchar(50)");  // equal to the one before with letters folded
  add("code", "char(10)").code_page = 1252;
  add("ver", "timestamp");
  add("total", "decimal(18,2)").is_computed = true;
  add("valid_from", "datetime2").generated_always = 1;
  add("price", "decimal(18,2)");
  add("at", "datetime2");
  add("day", "date");
  add("clock", "time");
  add("zoned", "datetimeoffset");
  add("blob", "varbinary(max)");
  add("guid", "uniqueidentifier");
  add("flag", "bit");
  t.key = {"Id", "Region"};
  return t;
}

const eg_target kTarget = make_target();

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Reads a statement from its start; each step consumes what it matches.
class statement_reader {
 public:
  explicit statement_reader(std::string_view s) : s_(s) {}

  bool word(std::string_view w) {
    if (!s_.substr(i_).starts_with(w)) return false;
    i_ += w.size();
    return true;
  }
  bool at_end() const { return i_ == s_.size(); }

  // A bracketed name of a column of the target.
  const qv_table_column *column() {
    std::string name;
    if (i_ >= s_.size() || s_[i_] != '[') return nullptr;
    const std::size_t end = quoted_token(s_, i_, &name);
    QV_FUZZ_CHECK(end != std::string_view::npos);
    i_ = end;
    const qv_table_column *col = eg_exact_col(kTarget.columns, name);
    QV_FUZZ_CHECK(col != nullptr);
    return col;
  }

  // A value for col, of a form its type allows.
  void value(const qv_table_column &col) {
    if (word("NULL")) return;
    std::string inside;
    if (word("N")) {
      QV_FUZZ_CHECK(!eg_is_binary(col) && i_ < s_.size() && s_[i_] == '\'');
      i_ = quoted_token(s_, i_, &inside);
      QV_FUZZ_CHECK(i_ != std::string_view::npos);
      return;
    }
    if (i_ < s_.size() && s_[i_] == '\'') {
      const std::size_t start = i_;
      i_ = quoted_token(s_, i_, &inside);
      QV_FUZZ_CHECK(i_ != std::string_view::npos);
      qv::exec::qv_date_parts parts;
      QV_FUZZ_CHECK(eg_date_kind_of(col) != eg_date_kind::none);
      QV_FUZZ_CHECK(qv::fuzz::read_iso_literal(s_.substr(start, i_ - start),
                                               eg_date_kind_of(col), &parts));
      return;
    }
    if (word("0x") || word("0X")) {
      QV_FUZZ_CHECK(eg_is_binary(col));
      const std::size_t start = i_;
      while (i_ < s_.size() && is_hex(s_[i_])) ++i_;
      QV_FUZZ_CHECK((i_ - start) % 2 == 0);
      return;
    }
    QV_FUZZ_CHECK(!eg_takes_text(col) && json_number());
  }

  // Both lists, the same length: names the insert may set, and their values.
  void insert_lists() {
    std::vector<const qv_table_column *> cols;
    do {
      const qv_table_column *col = column();
      QV_FUZZ_CHECK(col && (!col->is_read_only() || col->is_identity));
      cols.push_back(col);
    } while (word(", "));
    QV_FUZZ_CHECK(word(") VALUES ("));
    for (std::size_t k = 0; k < cols.size(); ++k) {
      QV_FUZZ_CHECK(k == 0 || word(", "));
      value(*cols[k]);
    }
    QV_FUZZ_CHECK(word(")"));
  }

  void assignments() {
    do {
      const qv_table_column *col = column();
      QV_FUZZ_CHECK(col && !col->is_read_only() && word(" = "));
      value(*col);
    } while (word(", "));
  }

  // " WHERE " and every key column, in key order, each with its value.
  void key_conditions() {
    QV_FUZZ_CHECK(word(" WHERE "));
    for (std::size_t k = 0; k < kTarget.key.size(); ++k) {
      QV_FUZZ_CHECK(k == 0 || word(" AND "));
      const qv_table_column *col = column();
      QV_FUZZ_CHECK(col && col->name == kTarget.key[k] && word(" = "));
      value(*col);
    }
  }

 private:
  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?, the JSON number form.
  bool json_number() {
    word("-");
    const std::size_t first = i_;
    if (!digits() || (i_ - first > 1 && s_[first] == '0')) return false;
    if (word(".") && !digits()) return false;
    if (word("e") || word("E")) {
      if (!word("+")) word("-");
      if (!digits()) return false;
    }
    return true;
  }
  bool digits() {
    const std::size_t start = i_;
    while (i_ < s_.size() && is_digit(s_[i_])) ++i_;
    return i_ > start;
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

void check_statement(const std::string &sql) {
  QV_FUZZ_CHECK(qv::fuzz::rapidjson_valid(sql));
  statement_reader r(sql);
  if (r.word("DELETE FROM ")) {
    QV_FUZZ_CHECK(r.word(kTarget.name));
    r.key_conditions();
  } else if (r.word("UPDATE ")) {
    QV_FUZZ_CHECK(r.word(kTarget.name) && r.word(" SET "));
    r.assignments();
    r.key_conditions();
  } else {
    QV_FUZZ_CHECK(r.word("INSERT INTO ") && r.word(kTarget.name));
    if (!r.word(" DEFAULT VALUES")) {
      QV_FUZZ_CHECK(r.word(" ("));
      r.insert_lists();
    }
  }
  QV_FUZZ_CHECK(r.at_end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);  // terminated
  eg_ops_doc doc;
  if (!doc.parse(text.c_str()) || !doc.operations()) return 0;
  const qv::common::qv_json_value &ops = *doc.operations();
  const eg_plan plan = eg_build_statements(kTarget, doc, ops);
  const bool failed = !plan.op_error.empty() || !plan.column_error.empty();
  QV_FUZZ_CHECK(plan.op_error.empty() || plan.column_error.empty());
  QV_FUZZ_CHECK(failed ? plan.statements.size() < ops.Size()
                       : plan.statements.size() == ops.Size());
  for (const std::string &sql : plan.statements) check_statement(sql);
  return 0;
}
