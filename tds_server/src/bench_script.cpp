#include "bench_script.h"

#include <cstdio>
#include <string>

namespace tds::bench {

namespace {

// Distinct document texts; the docs stream cycles through them.
constexpr std::size_t kDistinctDocs = 16;

// kDocBytes of UTF-8 prose with a few characters JSON must escape (quote,
// backslash, newline, tab) and some two-byte characters.
std::string doc_text(std::size_t i) {
  static const std::string phrase =
      "Row data \"quoted\" path C:\\tmp\\x\tcaf\xC3\xA9 na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 "
      "lorem ipsum dolor sit amet, consectetur adipiscing elit.\n";
  std::string s = "doc " + std::to_string(i) + ": ";
  while (s.size() + phrase.size() <= kDocBytes) s += phrase;
  s.append(kDocBytes - s.size(), 'z');
  return s;
}

}  // namespace

ResultSet wide_result(std::size_t rows) {
  ResultSet rs;
  rs.columns = {
      {"id", Type::Int, 0, 0, 0, false},
      {"big", Type::BigInt, 0, 0, 0, true},
      {"label", Type::NVarChar, 50, 0, 0, true},
      {"amount", Type::Decimal, 0, 18, 4, true},
      {"created", Type::DateTime2, 0, 0, 3, true},
      {"flag", Type::Bit, 0, 0, 0, true},
      {"ratio", Type::Float, 0, 0, 0, true},
      {"blob", Type::VarBinary, 16, 0, 0, true},
      {"missing", Type::Int, 0, 0, 0, true},
      {"code", Type::VarChar, 20, 0, 0, true},
  };
  rs.generated_rows = rows;
  rs.generate = [](std::size_t i, Row &row) {
    char buf[64];
    row[0] = std::to_string(i + 1);
    row[1] = std::to_string(static_cast<long long>(i) * 1'000'003LL);
    row[2] = "item " + std::to_string(i) + " \xC3\xA9t\xC3\xA9 \xE2\x82\xAC";
    std::snprintf(buf, sizeof buf, "%s%zu.%04zu", i % 3 == 0 ? "-" : "", i, (i * 37) % 10000);
    row[3] = buf;
    std::snprintf(buf, sizeof buf, "2024-%02zu-%02zu %02zu:%02zu:%02zu.%03zu", i % 12 + 1, i % 28 + 1,
                  i % 24, i % 60, (i / 60) % 60, (i % 333) * 3);
    row[4] = buf;
    row[5] = i % 2 ? "1" : "0";
    row[6] = std::to_string(static_cast<double>(i) / 7.0);
    std::snprintf(buf, sizeof buf, "0x%08zX%08zX", i, ~i & 0xFFFFFFFFu);
    row[7] = buf;
    // row[8] stays NULL
    row[9] = "C" + std::to_string(i % 100000);
  };
  return rs;
}

ResultSet docs_result(std::size_t rows) {
  ResultSet rs;
  rs.columns = {{"doc", Type::NVarChar, 0, 0, 0, true}};
  rs.generated_rows = rows;
  rs.generate = [](std::size_t i, Row &row) { row[0] = doc_text(i % kDistinctDocs); };
  return rs;
}

void register_bench(Server &server, std::size_t rows) {
  server.add_database("bench");
  ResultSet wide = wide_result(rows);
  wide.encoded = encode_rows(wide, false);
  server.on(kWideSql, {wide});

  const std::size_t docs = rows / 10;
  ResultSet cycle = docs_result(docs % kDistinctDocs == 0 ? kDistinctDocs : docs);
  ResultSet served = docs_result(docs);
  served.encoded = encode_rows(cycle, false, docs % kDistinctDocs == 0 ? docs / kDistinctDocs : 1);
  server.on(kDocsSql, {served});

  ResultSet one;
  one.columns = {{"", Type::Int, 0, 0, 0, false}};
  one.rows = {{"1"}};
  one.encoded = encode_rows(one, false);
  server.on(kOneSql, {one});
}

}  // namespace tds::bench
