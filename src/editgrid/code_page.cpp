#include "editgrid/code_page.h"

#include <cerrno>
#include <cstdio>

namespace qv::ops::editgrid {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
// The converted bytes are only counted, never kept: one small buffer is
// refilled as often as needed.
constexpr std::size_t kScratchBytes = 256;

}  // namespace

eg_code_pages::~eg_code_pages() {
  for (const converter &c : open_)
    if (c.cd != kNoConverter) iconv_close(c.cd);
}

iconv_t eg_code_pages::converter_for(int code_page) {
  for (const converter &c : open_)
    if (c.code_page == code_page) return c.cd;
  // glibc names the Windows and DOS code pages SQL Server uses "CP<n>".
  char name[16];
  std::snprintf(name, sizeof name, "CP%d", code_page);
  iconv_t cd = iconv_open(name, "UTF-8");
  open_.push_back({code_page, cd});
  return cd;
}

bool eg_code_pages::holds(int code_page, std::string_view utf8) {
  if (code_page <= 0 || code_page == kUtf8CodePage || utf8.empty()) return true;
  iconv_t cd = converter_for(code_page);
  if (cd == kNoConverter) return true;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  char *in = const_cast<char *>(utf8.data());
  std::size_t in_left = utf8.size();
  char scratch[kScratchBytes];
  while (in_left > 0) {
    char *out = scratch;
    std::size_t out_left = sizeof scratch;
    if (iconv(cd, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1)) continue;
    if (errno != E2BIG) return false;  // EILSEQ: a character the code page lacks
  }
  return true;
}

}  // namespace qv::ops::editgrid
