// Whether a text can be stored in a non-Unicode code page, asked of glibc's
// iconv. The server would put '?' in place of every character a char,
// varchar or text column's code page lacks, without a word. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <iconv.h>

#include <string_view>
#include <vector>

namespace qv::ops::editgrid {

// Code pages that hold every character: none to check.
constexpr int kUtf8CodePage = 65001;

// The converters opened so far, one per code page, closed with the object.
// Not shared between threads.
class eg_code_pages {
 public:
  eg_code_pages() = default;
  eg_code_pages(const eg_code_pages &) = delete;
  eg_code_pages &operator=(const eg_code_pages &) = delete;
  ~eg_code_pages();

  // False when utf8 (valid UTF-8) has a character that code_page cannot
  // hold. True as well for the code pages not checked: 0 (none), 65001, and
  // those iconv does not know.
  bool holds(int code_page, std::string_view utf8);

 private:
  struct converter {
    int code_page;
    iconv_t cd;  // (iconv_t)-1 when iconv does not know the code page
  };
  iconv_t converter_for(int code_page);

  std::vector<converter> open_;
};

}  // namespace qv::ops::editgrid
