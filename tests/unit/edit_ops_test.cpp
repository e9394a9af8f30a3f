// The edit statement builder on its own, over random tables and documents:
// an UPDATE or DELETE always addresses its row by the whole key, with the key
// values exactly as the document wrote them, and a damaged document never
// yields one with part of the key.
#include "editgrid/edit_ops.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace qv::ops::editgrid;

TEST(EditStatements, UpdatesAndDeletesAlwaysCarryTheWholeKey) {
  const char *numbers[] = {"0", "-7", "19.99", "1e-3", "-1.5E+300", "18446744073709551616"};
  std::mt19937 rng(20261208);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 500; ++round) {
    eg_target t{{}, {}, "[d].[s].[t]"};
    int ncols = 1 + pick(40), nkey = 1 + pick(std::min(ncols, 24));
    for (int i = 0; i < ncols; ++i) {
      // Column 0, which every update sets, is never one the server fills: an
      // update with nothing to write is refused.
      const bool identity = i > 0 && pick(6) == 0, computed = i >= nkey && pick(6) == 0;
      t.columns.push_back({"c]" + std::to_string(i), "int", identity, computed, true});
      if (i < nkey) t.key.push_back(t.columns.back().name);
    }
    std::string doc = "[";
    std::vector<std::string> wheres;  // of each update and delete, in order
    for (int op = 0, nops = 1 + pick(6); op < nops; ++op) {
      std::vector<int> order(static_cast<std::size_t>(nkey));
      for (int k = 0; k < nkey; ++k) order[static_cast<std::size_t>(k)] = k;
      std::shuffle(order.begin(), order.end(), rng);
      std::vector<std::string> lits(order.size());
      std::string pk = "{\"noise\":1", values = "{\"C]0\":\"it''s\"", where = " WHERE ";
      for (int k : order) {
        lits[static_cast<std::size_t>(k)] = numbers[pick(6)];
        pk += ",\"c]" + std::to_string(k) + "\":" + lits[static_cast<std::size_t>(k)];
      }
      for (int k = 0; k < nkey; ++k)
        where += (k ? " AND [c]]" : "[c]]") + std::to_string(k) +
                 "] = " + lits[static_cast<std::size_t>(k)];
      const char *kind = op % 3 == 0 ? "insert" : op % 3 == 1 ? "update" : "delete";
      doc += std::string(op ? "," : "") + "{\"op\":\"" + kind + "\",\"pk\":" + pk +
             "},\"values\":" + values + "}}";
      if (op % 3) wheres.push_back(where);
    }
    doc += "]";
    eg_ops_doc d;
    ASSERT_TRUE(d.parse(doc.c_str())) << doc;
    eg_plan plan = eg_build_statements(t, d, *d.operations());
    ASSERT_EQ(plan.op_error + plan.column_error, "") << doc;
    std::size_t next = 0;
    for (const std::string &s : plan.statements) {
      if (s.starts_with("INSERT")) continue;
      EXPECT_TRUE(s.ends_with(wheres.at(next++))) << s;
    }
    EXPECT_EQ(next, wheres.size());

    for (int cut = 0; cut < 20; ++cut) {
      std::string damaged = doc;
      damaged.erase(rng() % damaged.size(), 1 + rng() % 3);
      eg_ops_doc dd;
      if (!dd.parse(damaged.c_str()) || !dd.operations()) continue;
      for (const std::string &s : eg_build_statements(t, dd, *dd.operations()).statements) {
        std::size_t where = s.rfind(" WHERE ");
        for (int k = 0; k < nkey && !s.starts_with("INSERT"); ++k)
          EXPECT_NE(s.find("[c]]" + std::to_string(k) + "] = ", where), std::string::npos) << s;
      }
    }
  }
}

// The edit document's own parse copy has the same room: a document ending
// inside a UTF-8 sequence is refused, never read past (AddressSanitizer).
TEST(EditDocument, TextsEndingInsideACharacterAreRefused) {
  for (const char *text : {"\"\xF1", "[\"\xF4\x8F", "[{\"op\":\"\xE2", "[7,\"\xC3"}) {
    eg_ops_doc d;
    EXPECT_FALSE(d.parse(text)) << text;
  }
}

}  // namespace
