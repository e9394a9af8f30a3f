// Writing the capture record's server messages into a reply.
#pragma once

class qv_reply;
struct qv_capture;

// Writes "messages": [...] with every message from *cursor on and moves the
// cursor past them. With a null reply the messages are only consumed.
void add_messages(qv_reply *w, const qv_capture *cap, int *cursor);
