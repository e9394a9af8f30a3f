// The scripting part of the demo tour.
#include "demo.h"

void demo_scripting(const demo_ctx &) {}
