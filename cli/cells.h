// Cells as text: CSV fields, and table cells measured in terminal columns.
#pragma once

#include <cstddef>
#include <string>

#include <rapidjson/document.h>

// A cell as text; NULL becomes `null_text`. Numbers arrive as text (the
// replies are parsed with their digits kept).
std::string cell_text(const rapidjson::Value &v, const char *null_text);

// One RFC 4180 field: quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string &s);

// How many terminal columns `s` (UTF-8) takes: wide characters (CJK) count
// two, combining marks none.
std::size_t display_width(const std::string &s);

// `s` on one line (control characters become spaces), cut with "…" so that
// it takes at most `width` terminal columns.
std::string fit_cell(std::string s, std::size_t width);
