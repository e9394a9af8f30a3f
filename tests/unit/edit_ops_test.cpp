// The edit statement builder on its own, over random tables and documents:
// whatever the document holds, an UPDATE or DELETE addresses its row by the
// whole key, with the values exactly as the document wrote them.
#include "editgrid/edit_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct random_case {
  eg_target target;
  std::string doc;
  std::vector<std::string> wheres;  // the expected key condition of each update/delete
};

random_case make_case(std::mt19937 &rng) {
  const char *numbers[] = {"0",
                           "-7",
                           "19.99",
                           "1e-3",
                           "-1.5E+300",
                           "18446744073709551616",
                           "123456789012345678901234567890"};
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  random_case c;
  int ncols = 1 + pick(40), nkey = 1 + pick(std::min(ncols, 24));
  for (int i = 0; i < ncols; ++i) {
    qv_grid_col col;
    col.name = "c]" + std::to_string(i);
    col.is_identity = pick(6) == 0;
    col.is_computed = i >= nkey && pick(6) == 0;
    c.target.columns.push_back(col);
    if (i < nkey) c.target.key.push_back(col.name);
  }
  c.target.name = "[d].[s].[t]";
  c.doc = "[";
  for (int op = 0, nops = 1 + pick(6); op < nops; ++op) {
    const char *kind = op % 3 == 0 ? "insert" : op % 3 == 1 ? "update" : "delete";
    std::vector<int> order(static_cast<std::size_t>(nkey));
    for (int k = 0; k < nkey; ++k) order[static_cast<std::size_t>(k)] = k;
    std::shuffle(order.begin(), order.end(), rng);
    std::vector<std::string> lits(static_cast<std::size_t>(nkey));
    std::string pk = "{\"noise\":1";
    for (int k : order) {
      lits[static_cast<std::size_t>(k)] = numbers[pick(7)];
      pk += ",\"c]" + std::to_string(k) + "\":" + lits[static_cast<std::size_t>(k)];
    }
    std::string where;
    for (int k = 0; k < nkey; ++k)
      where += (k ? " AND [c]]" : "[c]]") + std::to_string(k) +
               "] = " + lits[static_cast<std::size_t>(k)];
    std::string values = "{";
    for (int i = 0; i < ncols; ++i)
      if (pick(3) == 0)
        values += (values.size() > 1 ? ",\"C]" : "\"C]") + std::to_string(i) + "\":\"it''s\"";
    values += "}";
    c.doc += std::string(op ? "," : "") + "{\"op\":\"" + kind + "\",\"pk\":" + pk +
             "},\"values\":" + values + "}";
    if (op % 3 != 0) c.wheres.push_back(" WHERE " + where);
  }
  c.doc += "]";
  return c;
}

TEST(EditStatements, UpdatesAndDeletesAlwaysCarryTheWholeKey) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 500; ++round) {
    random_case c = make_case(rng);
    eg_ops_doc doc;
    ASSERT_TRUE(doc.parse(c.doc.c_str())) << c.doc;
    eg_plan plan = eg_build_statements(c.target, doc, *doc.operations());
    ASSERT_EQ(plan.op_error + plan.column_error, "") << c.doc;
    std::size_t next = 0;
    for (const std::string &s : plan.statements) {
      if (s.starts_with("INSERT")) continue;
      ASSERT_LT(next, c.wheres.size());
      EXPECT_TRUE(s.ends_with(c.wheres[next++])) << s;
    }
    EXPECT_EQ(next, c.wheres.size());

    // Damaged documents never yield a statement without its full key.
    for (int cut = 0; cut < 20; ++cut) {
      std::string damaged = c.doc;
      damaged.erase(rng() % damaged.size(), 1 + rng() % 3);
      eg_ops_doc d;
      if (!d.parse(damaged.c_str()) || !d.operations()) continue;
      for (const std::string &s : eg_build_statements(c.target, d, *d.operations()).statements) {
        if (s.starts_with("INSERT")) continue;
        std::size_t where = s.rfind(" WHERE ");
        ASSERT_NE(where, std::string::npos) << s;
        for (std::size_t k = 0; k < c.target.key.size(); ++k)
          EXPECT_NE(s.find("[c]]" + std::to_string(k) + "] = ", where), std::string::npos) << s;
      }
    }
  }
}

}  // namespace
