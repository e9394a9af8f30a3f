// The library's statement texts as tests/golden/statements.sql keeps them:
// the one place every test takes them from.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <istream>
#include <string>
#include <vector>

#ifndef QV_GOLDEN_STATEMENTS
#error "QV_GOLDEN_STATEMENTS must name tests/golden/statements.sql"
#endif

namespace qvtest {

struct golden_entry {
  std::string name;  // <area>.<what>
  std::string text;  // the statement, placeholders as the library's format string has them
  int line = 0;      // of the statement in the file
};

struct golden_file {
  std::vector<golden_entry> entries;  // in file order
  std::vector<std::string> problems;  // "line N: ..." for each malformed place
};

namespace golden_detail {

constexpr char kNameMark[] = "-- name: ";

// <area>.<what>: lower-case letters, digits and underscores on both sides.
inline bool good_name(const std::string &name) {
  auto dot = name.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (i == dot) continue;
    if (!(std::islower(c) || std::isdigit(c) || c == '_')) return false;
  }
  return true;
}

}  // namespace golden_detail

// Reads entries: "-- name: <area>.<what>" and, on the very next line, the
// statement. Other lines starting with "--" are comments; blank lines
// separate entries. Anything else is reported in problems.
inline golden_file parse_golden(std::istream &in) {
  using golden_detail::kNameMark;
  golden_file out;
  std::string line, pending;  // pending: a name still waiting for its statement
  int pending_line = 0, n = 0;
  auto problem = [&](int at, const std::string &what) {
    out.problems.push_back("line " + std::to_string(at) + ": " + what);
  };
  auto close_pending = [&] {
    if (!pending.empty())
      problem(pending_line, "statement " + pending + " has no text on the next line");
    pending.clear();
  };
  while (std::getline(in, line)) {
    ++n;
    if (line.rfind(kNameMark, 0) == 0) {
      close_pending();
      std::string name = line.substr(sizeof kNameMark - 1);
      if (!golden_detail::good_name(name)) problem(n, "bad name '" + name + "' (<area>.<what>)");
      for (const golden_entry &e : out.entries)
        if (e.name == name)
          problem(n, name + " is already named on line " + std::to_string(e.line - 1));
      pending = name;
      pending_line = n;
    } else if (line.empty() || line.rfind("--", 0) == 0) {
      close_pending();
    } else if (pending.empty()) {
      problem(n, "text outside any entry (a statement is one line): " + line.substr(0, 60));
    } else {
      if (line.find('\r') != std::string::npos) problem(n, pending + " holds a carriage return");
      if (std::isspace(static_cast<unsigned char>(line.back())) ||
          std::isspace(static_cast<unsigned char>(line.front())))
        problem(n, pending + " starts or ends with a blank");
      out.entries.push_back({pending, line, n});
      pending.clear();
    }
  }
  close_pending();
  return out;
}

inline golden_file read_golden(const std::string &path) {
  std::ifstream in(path);
  if (!in) {
    golden_file missing;
    missing.problems.push_back("cannot read " + path);
    return missing;
  }
  return parse_golden(in);
}

// The project's statements file, read once.
inline const golden_file &golden() {
  static const golden_file file = read_golden(QV_GOLDEN_STATEMENTS);
  return file;
}

// How many %s and %d a text holds.
inline int placeholder_count(const std::string &text) {
  int count = 0;
  for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1))
    if (at + 1 < text.size() && (text[at + 1] == 's' || text[at + 1] == 'd')) ++count;
  return count;
}

// The statement called name, placeholders left as they are. A name the file
// does not hold fails the calling test and gives a text no batch equals.
inline std::string statement(const std::string &name) {
  for (const golden_entry &e : golden().entries)
    if (e.name == name) return e.text;
  ADD_FAILURE() << "no statement named " << name << " in " << QV_GOLDEN_STATEMENTS;
  return "<no statement " + name + ">";
}

// The statement called name with its %s and %d filled, in order, by pieces
// taken as they are; there must be exactly one piece per placeholder.
inline std::string statement(const std::string &name, const std::vector<std::string> &pieces) {
  std::string text = statement(name);
  EXPECT_EQ(placeholder_count(text), static_cast<int>(pieces.size()))
      << "pieces given for " << name << ": " << text;
  std::size_t at = 0;
  for (const std::string &piece : pieces) {
    for (at = text.find('%', at); at != std::string::npos; at = text.find('%', at + 1))
      if (at + 1 < text.size() && (text[at + 1] == 's' || text[at + 1] == 'd')) break;
    if (at == std::string::npos) break;
    text.replace(at, 2, piece);
    at += piece.size();
  }
  return text;
}

// A name as the inside of a string literal: every quote doubled.
inline std::string doubled(const std::string &s) {
  std::string out;
  for (char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out;
}

// A name as a Unicode literal: N'...' with its quotes doubled.
inline std::string nlit(const std::string &s) { return "N'" + doubled(s) + "'"; }

}  // namespace qvtest
