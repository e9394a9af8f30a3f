// The tree part of the demo tour.
#include "demo.h"

void demo_tree(const demo_ctx &) {}
