#include "common/split.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace qv::common;

// An allocator that lets `budget` allocations through and fails every later
// one.
int budget = 0;
void *rationed_realloc(void *p, std::size_t size) {
  if (budget == 0) return nullptr;
  --budget;
  return std::realloc(p, size);
}

using Batches = std::vector<std::string>;

Batches split(const char *text) {
  qv_batch_list list{};
  EXPECT_EQ(qv_split_go(text, &list), 0);
  EXPECT_EQ(list.items == nullptr, list.count == 0);
  Batches out(list.items, list.items + list.count);
  qv_batch_list_free(&list);
  EXPECT_EQ(list.items, nullptr);
  return out;
}

struct SplitCase {
  const char *script;
  Batches expected;
};

void PrintTo(const SplitCase &c, std::ostream *os) { *os << ::testing::PrintToString(c.script); }

class SplitGo : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitGo, CutsAtSeparatorLines) {
  EXPECT_EQ(split(GetParam().script), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Scripts, SplitGo, ::testing::Values(
  // Separator forms; CR LF line ends, with a CR inside a batch kept.
  SplitCase{"SELECT 1\nGO\nSELECT 2", {"SELECT 1", "SELECT 2"}},
  SplitCase{"SELECT 1\r\nSELECT 3\r\ngo\r\nSELECT 2\r\n", {"SELECT 1\r\nSELECT 3", "SELECT 2"}},
  SplitCase{"\t\tGO  \nA\n gO -- done 'x\nB\nGO5\nC\nGo 3\t\nD", {"A", "B", "C", "D"}},
  SplitCase{"A\nGO;\nGOTO next\nGO 5 x\nGO - 1\n\fGO\nG", {"A\nGO;\nGOTO next\nGO 5 x\nGO - 1\n\fGO\nG"}},
  // GO inside strings, bracketed identifiers and block comments.
  SplitCase{"SELECT 'it''s\nGO\nx'\nGO\nB", {"SELECT 'it''s\nGO\nx'", "B"}},
  SplitCase{"SELECT [a\nGO\nb]\nGO\nB", {"SELECT [a\nGO\nb]", "B"}},
  SplitCase{"/* a\nGO\n*/ x\nGO\nB", {"/* a\nGO\n*/ x", "B"}},
  // Double-quoted identifiers, doubled closing quotes and nested comments.
  SplitCase{"SELECT \"it's\"\nGO\nSELECT 2", {"SELECT \"it's\"", "SELECT 2"}},
  SplitCase{"SELECT \"a\"\"\nGO\n\"\nGO\nB", {"SELECT \"a\"\"\nGO\n\"", "B"}},
  SplitCase{"SELECT [it]]'s]\nGO\nSELECT 2", {"SELECT [it]]'s]", "SELECT 2"}},
  SplitCase{"SELECT [a\nGO\nb]]\nGO\nB]\nGO\nC", {"SELECT [a\nGO\nb]]\nGO\nB]", "C"}},
  SplitCase{"/* a /* b */ GO */\nGO\nB", {"/* a /* b */ GO */", "B"}},
  SplitCase{"/* /* a\nGO\n*/ x\nGO\n*/\nGO\nB", {"/* /* a\nGO\n*/ x\nGO\n*/", "B"}},
  // Markers inside a line comment, string or bracketed identifier are inert.
  SplitCase{"SELECT 1 -- it's /*\nGO\nB", {"SELECT 1 -- it's /*", "B"}},
  SplitCase{"SELECT '--'\nGO\n[/*]\nGO\nB", {"SELECT '--'", "[/*]", "B"}},
  // Two-byte tokens count only within one line.
  SplitCase{"SELECT 1 -\n- '\nGO\n'", {"SELECT 1 -\n- '\nGO\n'"}},
  SplitCase{"/* x *\n/\nGO\n*/", {"/* x *\n/\nGO\n*/"}},
  SplitCase{"SELECT 1 /\n* x\nGO\nB", {"SELECT 1 /\n* x", "B"}},
  SplitCase{"SELECT 'a\nb'\n'x\nGO\n'", {"SELECT 'a\nb'\n'x\nGO\n'"}},
  // Blank lines lead a batch; trailing white space and empty batches go.
  SplitCase{"\n\nA\nGO\n\n  B  \t\n\n", {"\n\nA", "\n  B"}},
  SplitCase{"A\nGO\n \t\r\n\nGO\nB\v\nGO", {"A", "B\v"}},
  SplitCase{"GO\n\n  \ngo\r\nGO 2\n", {}},
  SplitCase{"", {}}));

TEST(SplitGo, NullArguments) {
  EXPECT_EQ(split(nullptr), Batches{});
  EXPECT_EQ(qv_split_go("A", nullptr), -1);
  qv_batch_list_free(nullptr);
  qv_batch_list list{};
  qv_batch_list_free(&list);
  list.count = 3;
  qv_batch_list_free(&list);  // no array: left alone
  EXPECT_EQ(qv_split_go(nullptr, &list), 0);  // emptied before the null check
  EXPECT_EQ(list.count, 0);
}

// The count after GO is how many times the batch before it runs; a batch
// without one, or with GO 0, runs once.
TEST(SplitGo, SeparatorCountsRepeatTheirBatch) {
  const struct {
    const char *script;
    std::vector<std::int32_t> repeats;
  } cases[] = {
      {"INSERT t DEFAULT VALUES\nGO 1000\n", {1000}},
      {"A\nGO 3\nB\nGO\nC", {3, 1, 1}},
      {"A\ngo 0 -- none\nB\n\tGO  2  \n", {1, 2}},
      {"A\nGO5\nB\nGO 007\n", {5, 7}},
      {"A\nGO 99999999999\n", {INT32_MAX}},
      {"A\nGO 2\nGO 4\n", {2}},  // an empty batch takes its count with it
      {"A\nGO 3 x\n", {1}},       // not a separator: one batch of two lines
  };
  for (const auto &c : cases) {
    qv_batch_list list{};
    ASSERT_EQ(qv_split_go(c.script, &list), 0) << c.script;
    std::vector<std::int32_t> got;
    for (std::int32_t i = 0; i < list.count; ++i) got.push_back(qv_batch_repeats(list, i));
    EXPECT_EQ(got, c.repeats) << c.script;
    qv_batch_list_free(&list);
  }
  qv_batch_list none{};
  EXPECT_EQ(qv_batch_repeats(none, 0), 1);  // a list without counts runs each batch once
}

// 20 batches, one of them a 255-byte line (buffer just past 256 bytes) and a
// 2000-byte line: the list and the batch buffer both grow.
std::string many_batches(Batches &expected) {
  std::string script;
  for (int i = 0; i < 20; ++i) {
    expected.push_back(i == 7 ? std::string(255, 'x') + "\n" + std::string(2000, 'y')
                              : "SELECT " + std::to_string(i));
    script += expected.back() + "\nGO\n";
  }
  return script;
}

// Every allocation in turn fails: -1 with the batches finished so far (ASan
// checks that nothing else is left behind); the last round gets all 20.
TEST(SplitGo, ManyBatchesUnderAllocationFailure) {
  Batches expected;
  std::string script = many_batches(expected);
  int rc = -1;
  for (int allowed = 0; rc != 0 && allowed < 100; ++allowed) {
    qv_batch_list list{};
    budget = allowed;
    rc = qv_split_go(script.c_str(), &list, rationed_realloc);
    Batches got(list.items, list.items + list.count);
    qv_batch_list_free(&list);
    ASSERT_LE(got.size(), expected.size());
    EXPECT_EQ(got, rc == 0 ? expected : Batches(expected.begin(), expected.begin() + got.size()));
  }
  EXPECT_EQ(rc, 0);
}

}  // namespace
