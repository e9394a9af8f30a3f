// The editgrid part of the demo tour.
#include "demo.h"

void demo_editgrid(const demo_ctx &) {}
