#include "common/capture.h"
#include "common/operation.h"

char *qv_not_implemented() {
  qv_seterr("not implemented yet");
  return qv_err_json();
}
