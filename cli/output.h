// Printing a reply: the JSON itself (compact as the library wrote it, or
// indented), or its result sets as aligned tables or RFC 4180 CSV.
#pragma once

#include <cstdio>
#include <string>

enum class out_format { json, table, csv, jsonl, text };

struct output_options {
  out_format format = out_format::json;
  bool pretty = false;
};

// Cells longer than this many characters are cut in tables (display only).
constexpr std::size_t kTableCellMaxChars = 40;

// Prints `reply` to `out` and returns the exit status: 0 when the reply says
// "ok": true, 1 otherwise. json prints the reply; table and csv its result
// sets (messages of a CSV run go to `err`); text the script a reply carries
// ("sql"), or its "props" as name: value lines. In every form but json a
// failed reply prints only its error, on `err`.
int print_reply(const char *reply, const output_options &o, std::FILE *out, std::FILE *err);
