#include "builtins.h"

#include <regex>

namespace tds::detail {
namespace {

constexpr auto kIcase = std::regex::ECMAScript | std::regex::icase;

// A batch of nothing but SET statements (session options, TEXTSIZE), each
// ended by ";" or the end of the batch.
bool is_set_options(const std::string &sql) {
  static const std::regex re(R"(^(\s*set\s+[a-z_]+(\s*,\s*[a-z_]+)*\s+[-+\w]+\s*(;|$))+\s*$)",
                             kIcase);
  return std::regex_match(sql, re);
}

bool is_select_version(const std::string &sql) {
  static const std::regex re(R"(^\s*select\s+@@version\s*;?\s*$)", kIcase);
  return std::regex_match(sql, re);
}

bool is_select_db_name(const std::string &sql) {
  static const std::regex re(R"(^\s*select\s+db_name\s*\(\s*\)\s*;?\s*$)", kIcase);
  return std::regex_match(sql, re);
}

ResultSet single_text(std::string value, int length) {
  ResultSet rs;
  rs.columns.push_back(Column{"", Type::NVarChar, length});
  rs.rows.push_back(Row{std::move(value)});
  return rs;
}

// At most `n` code points of UTF-8 text.
std::string utf8_prefix(const std::string &s, std::size_t n) {
  std::size_t count = 0, i = 0;
  for (; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && count++ == n) break;
  }
  return s.substr(0, i);
}

BuiltinAnswer use_answer(const std::string &target, const ServerState &state) {
  BuiltinAnswer a;
  const auto db = state.find_database(target);
  if (!db) {
    a.reply.push_back(BatchAbort{error(911, "Database '" + target +
                                                "' does not exist. Make sure that the name is entered correctly.")});
    return a;
  }
  a.new_database = *db;
  a.reply.push_back(info(5701, "Changed database context to '" + *db + "'.", 0));
  a.reply.push_back(DoneNoCount{});
  return a;
}

}  // namespace

std::optional<std::string> parse_use(const std::string &sql) {
  static const std::regex re(R"(^\s*use\s+(?:\[((?:[^\]]|\]\])*)\]|([A-Za-z_@#][\w@#$]*))\s*;?\s*$)", kIcase);
  std::smatch m;
  if (!std::regex_match(sql, m, re)) return std::nullopt;
  if (m[2].matched) return m[2].str();
  std::string name = m[1].str();
  for (std::size_t at = name.find("]]"); at != std::string::npos; at = name.find("]]", at + 1)) {
    name.erase(at, 1);
  }
  return name;
}

BuiltinAnswer builtin_answer(const std::string &sql, const std::string &current_database,
                             const ServerState &state) {
  if (const auto target = parse_use(sql)) return use_answer(*target, state);
  if (is_set_options(sql)) return {Reply{DoneNoCount{}}, {}};
  if (is_select_version(sql)) return {Reply{single_text(state.version_text(), 300)}, {}};
  if (is_select_db_name(sql)) return {Reply{single_text(current_database, 128)}, {}};
  return {Reply{BatchAbort{error(50000, "tds_server: no handler for batch: " + utf8_prefix(sql, 200))}}, {}};
}

}  // namespace tds::detail
