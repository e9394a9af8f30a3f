// Starting, stopping, enabling and disabling one SQL Agent job.
#pragma once

#include "common/conn.h"

// arg is the JSON document {"job_id": "...", "action": "start|stop|enable|disable"}.
// Replies {"ok","sql","error"}, or the error envelope for a bad argument.
char *job_control(const qv_conn &conn, const char *arg);
