#include "input.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "usage.h"

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw usage_error("cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw usage_error("cannot read " + path + ": " + std::strerror(errno));
  return text.str();
}

namespace {

usage_error nothing_given(const char *what) {
  return usage_error(std::string("no ") + what +
                     " given: pass it as an argument, with --file or on standard input");
}

std::string read_stdin(const char *what) {
  if (isatty(STDIN_FILENO)) throw nothing_given(what);
  return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
}

}  // namespace

std::string read_input(const std::string &arg, const std::string &file, const char *what) {
  const bool from_arg = !arg.empty() && arg != "-";
  if (from_arg && !file.empty())
    throw usage_error(std::string("give ") + what + " either as an argument or with --file, not both");
  if (from_arg) return arg;
  std::string text = file.empty() ? read_stdin(what) : read_file(file);
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) throw nothing_given(what);
  return text;
}
