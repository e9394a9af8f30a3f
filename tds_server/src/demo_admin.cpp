// The sample catalog's answers for the admin demo.
#include "demo_script.h"

namespace tds::demo {

void register_admin_demo(Server &) {}

}  // namespace tds::demo
