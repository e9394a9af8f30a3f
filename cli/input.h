// Reading the texts an operation needs: SQL and edit documents come from an
// argument, a file or standard input.
#pragma once

#include <string>

// The whole content of `path`; throws usage_error when it cannot be read.
std::string read_file(const std::string &path);

// The text given by exactly one of: `arg` (when not empty and not "-"),
// `file` (when not empty), standard input (otherwise). `what` names the
// text in messages ("SQL", "the edit operations").
std::string read_input(const std::string &arg, const std::string &file, const char *what);
