// The CREATE script of a user table, from its catalog. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>

#include "scripting/scripting.h"

namespace qv::ops::scripting {

// A table's script in its two parts.
struct table_script {
  // "-- not scripted: ...\r\n" naming what of the table the script leaves
  // out (temporal table, partitioning, compression, filegroups, other index
  // types); empty when nothing is left out. It heads the whole script.
  std::string notes;
  // CREATE TABLE with columns, key, unique and check constraints, then each
  // foreign key as ALTER TABLE ... ADD CONSTRAINT and each other index as
  // CREATE INDEX; every statement followed by a GO line.
  std::string body;
};

// 1 with the script of t's table, 0 when there is no such table, -1 when it
// cannot be scripted (reason recorded).
int script_table(const script_target &t, table_script *out);

}  // namespace qv::ops::scripting
