// Shared pieces of the demo tour: the loaded library and the connection
// document of the demo server. Each area of the library shows itself in its
// own demo_<area>.cpp.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using free_fn = void (*)(void *);

struct demo_ctx {
  void *lib = nullptr;
  free_fn release = nullptr;
  int port = 0;
  std::string conn;  // {"host":"127.0.0.1","port":...,"user":"sa","password":"secret"}
};

// The exported function `name` as a pointer of type F; exits when missing.
template <class F>
F demo_symbol(void *lib, const char *name) {
  void *p = dlsym(lib, name);
  if (!p) {
    std::fprintf(stderr, "missing symbol %s\n", name);
    std::exit(1);
  }
  return reinterpret_cast<F>(p);
}

// Prints a titled reply and releases it.
inline void demo_show(const demo_ctx &ctx, const char *title, char *reply) {
  std::printf("%s:\n%s\n\n", title, reply ? reply : "(null)");
  ctx.release(reply);
}

void demo_tree(const demo_ctx &ctx);
void demo_scripting(const demo_ctx &ctx);
void demo_editgrid(const demo_ctx &ctx);
void demo_admin(const demo_ctx &ctx);
void demo_cancel(const demo_ctx &ctx);
void demo_stream(const demo_ctx &ctx);
