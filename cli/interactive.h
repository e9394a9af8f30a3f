// dbdesk query at a terminal without a script: statements typed at a prompt
// (line editing and history through libedit, kept in ~/.dbdesk_history),
// collected until a line holding GO (with an optional count) runs them.
// Results are written as a streamed query writes them; Ctrl-C cancels the
// running batch and the prompt comes back; Ctrl-D or :quit leaves.
#pragma once

#include <string>

#include "stream.h"

// Runs the prompt until the user leaves; returns the exit status (0).
int run_interactive(const std::string &conn_json, const char *database, const stream_settings &s,
                    const stream_target &out);

// Whether `line` is a batch separator: GO, any case, with an optional count.
bool is_go_line(const std::string &line);
