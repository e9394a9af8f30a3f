// The sample catalog's answers for the tree demo.
#include "demo_script.h"

namespace tds::demo {

void register_tree_demo(Server &) {}

}  // namespace tds::demo
