#include "login_faults.h"

namespace tds::wire {

Bytes garbage_prelogin_reply() {
  // VERSION at offset 0x7FF0, six bytes long, in a six-byte answer.
  return Bytes{0x00, 0x7F, 0xF0, 0x00, 0x06, 0xFF};
}

Bytes garbage_login_reply() {
  return Bytes{0x5A, 0x13, 0x37, 0xC0, 0xDE, 0x00, 0x00, 0x00};
}

void cut_in_half(Bytes &answer) { answer.resize(answer.size() / 2); }

bool garbles_prelogin(ConnectionFault f) {
  return f == ConnectionFault::GarbagePrelogin || f == ConnectionFault::TruncatedPrelogin;
}

bool faults_login(ConnectionFault f) {
  return f == ConnectionFault::DropAtLogin || f == ConnectionFault::GarbageLogin ||
         f == ConnectionFault::TruncatedLogin;
}

}  // namespace tds::wire
