// The edit operations document and the statements built from it. Building
// is a pure function of the table description and the document: no session
// is involved, so it can be tested (and fuzzed) on its own. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <string>
#include <vector>

#include "common/json.h"
#include "editgrid/grid_table.h"

namespace qv::ops::editgrid {

constexpr int kMaxOperations = 256;
// An insert that leaves every column to the server; %s is the bracketed target.
constexpr char kInsertDefaultValues[] = "INSERT INTO %s DEFAULT VALUES";
// Operation errors and column errors are cut to this many bytes.
constexpr std::size_t kEditErrorSize = 512;

// A parsed edit document. Every JSON number keeps the text the document
// wrote it with, so literals carry exactly the digits the caller sent.
class eg_ops_doc {
 public:
  enum class kind { null, boolean, number, string, array, object };

  eg_ops_doc() = default;
  eg_ops_doc(const eg_ops_doc &) = delete;
  eg_ops_doc &operator=(const eg_ops_doc &) = delete;

  // Strict standard JSON, exactly one value, no string that decodes to
  // broken UTF-8. False when the text is not valid JSON.
  bool parse(const char *text);
  // The operations: the root array, or the array under the root object's
  // first "ops" key. Null when there is none or it is empty.
  const qv_json_value *operations() const;
  kind kind_of(const qv_json_value &v) const;

 private:
  std::vector<char> text_;
  qv_json_document doc_;
  // Where each number's text starts in text_, in document order.
  std::vector<const char *> numbers_;
};

// Where the description of the target table stops and the edits begin.
struct eg_target {
  qv_grid_cols columns;           // every column, catalog order
  std::vector<std::string> key;   // every primary-key column, key order
  std::string name;               // [database].[schema].[table]
};

struct eg_plan {
  std::vector<std::string> statements;  // one per operation built, in order
  // Set when an operation was malformed: nothing may run, the reply says why.
  std::string op_error;
  // Set when a value or column name cannot be used: the call is refused.
  std::string column_error;
};

// The T-SQL literal of a JSON value for col (null col: no column type
// applies); false when the value cannot be written as one. A date or time
// text in the form the grid's load writes goes back as an ISO 8601 literal
// of the column's type; a number or boolean for a column that holds texts
// goes as a string literal.
bool lit_from_json(const eg_ops_doc &doc, const qv_json_value &v, const qv_table_column *col,
                   std::string *out);

// Checks and builds every operation of ops, in order, up to the first error.
eg_plan eg_build_statements(const eg_target &target, const eg_ops_doc &doc,
                            const qv_json_value &ops);

}  // namespace qv::ops::editgrid
