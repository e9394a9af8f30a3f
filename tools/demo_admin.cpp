// The admin part of the demo tour.
#include "demo.h"

void demo_admin(const demo_ctx &) {}
