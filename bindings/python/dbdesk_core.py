"""Typed ctypes wrapper of the quorvex-dbdesk-core shared library.

One method per exported function. Every reply text is parsed into a dict and
released with dbdesk_core_free, whatever happens while it is read. Numbers
stay exact: integers are Python ints and decimals are decimal.Decimal, so a
bigint key read from one reply can be sent back unchanged.

    core = DbdeskCore()                   # or DbdeskCore("/path/quorvex-dbdesk-core.so.1")
    conn = {"host": "127.0.0.1", "port": 1433, "user": "sa", "password": "..."}
    reply = core.query(conn, "SELECT name FROM sys.databases")
    for event in core.query_stream(conn, "SELECT name FROM sys.databases"):
        print(event)                      # {"event": "rows", ...} as they arrive
"""

import ctypes
import decimal
import itertools
import json
import os
import queue
import threading
from typing import Any, Dict, Iterator, Optional, Union

__all__ = ["DbdeskCore", "DEFAULT_LIBRARY"]

# The installed library's SONAME, found through the dynamic loader's search
# path; DBDESK_CORE_LIBRARY names another file.
DEFAULT_LIBRARY = "quorvex-dbdesk-core.so.1"

Document = Union[str, Dict[str, Any], list]

_TEXT = ctypes.c_char_p
_INT = ctypes.c_int

# Exported operation -> argument types. All return a malloc'd JSON text.
_OPERATIONS = {
    "dbdesk_core_connect_test": [_TEXT, _INT, _TEXT, _TEXT, _TEXT, _INT, _INT],
    "dbdesk_core_tree": [_TEXT, _TEXT, _TEXT, _TEXT, _TEXT],
    "dbdesk_core_query": [_TEXT, _TEXT, _TEXT, _INT, _INT],
    "dbdesk_core_kill_spid": [_TEXT, _INT],
    "dbdesk_core_script_object": [_TEXT, _TEXT, _TEXT, _TEXT, _TEXT, _TEXT],
    "dbdesk_core_editgrid_load": [_TEXT, _TEXT, _TEXT, _TEXT, _INT],
    "dbdesk_core_editgrid_apply": [_TEXT, _TEXT, _TEXT, _TEXT, _TEXT, _INT],
    "dbdesk_core_activity": [_TEXT, _TEXT],
    "dbdesk_core_storage": [_TEXT, _TEXT, _TEXT, _TEXT],
    "dbdesk_core_admin": [_TEXT, _TEXT, _TEXT, _TEXT],
    "dbdesk_core_cancel": [_TEXT],
}


# int (*)(void *user, const char *event_json, size_t len)
_EVENT_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.POINTER(ctypes.c_char), ctypes.c_size_t)

# Events parsed but not yet taken by the consumer; the library's thread waits
# when the consumer falls this far behind, so memory stays bounded.
_STREAM_BACKLOG = 64
_stream_ids = itertools.count(1)


def _text(value: Optional[str]) -> Optional[bytes]:
    return None if value is None else value.encode("utf-8")


def _document(value: Document) -> bytes:
    if isinstance(value, str):
        return value.encode("utf-8")
    # Decimals travel as text: the library turns a string into a literal the
    # server converts, so no digit is lost.
    return json.dumps(value, default=str).encode("utf-8")


class DbdeskCore:
    """The library, loaded once; methods may be called from any thread."""

    def __init__(self, path: Optional[str] = None):
        self._lib = ctypes.CDLL(path or os.environ.get("DBDESK_CORE_LIBRARY", DEFAULT_LIBRARY))
        self._lib.dbdesk_core_version.restype = ctypes.c_char_p
        self._lib.dbdesk_core_version.argtypes = []
        self._lib.dbdesk_core_last_error.restype = ctypes.c_char_p
        self._lib.dbdesk_core_last_error.argtypes = []
        self._lib.dbdesk_core_free.restype = None
        self._lib.dbdesk_core_free.argtypes = [ctypes.c_void_p]
        for name, argtypes in _OPERATIONS.items():
            fn = getattr(self._lib, name)
            fn.argtypes = argtypes
            fn.restype = ctypes.c_void_p  # keep the pointer: it must be freed
        self._free = self._lib.dbdesk_core_free
        stream = self._lib.dbdesk_core_query_stream
        stream.argtypes = [_TEXT, _TEXT, _TEXT, _INT, _INT, _EVENT_FN, ctypes.c_void_p]
        stream.restype = ctypes.c_void_p

    def _call(self, name: str, *args) -> Dict[str, Any]:
        ptr = getattr(self._lib, name)(*args)
        if not ptr:
            raise MemoryError(name + " returned no reply")
        try:
            text = ctypes.string_at(ptr).decode("utf-8")
        finally:
            self._free(ptr)
        return json.loads(text, parse_float=decimal.Decimal)

    def version(self) -> str:
        return self._lib.dbdesk_core_version().decode("utf-8")

    def last_error(self) -> str:
        return self._lib.dbdesk_core_last_error().decode("utf-8")

    def connect_test(self, host: str, user: str, password: Optional[str] = None, port: int = 0,
                     database: Optional[str] = None, encrypt: bool = False,
                     timeout_s: int = 0) -> Dict[str, Any]:
        return self._call("dbdesk_core_connect_test", _text(host), port, _text(user), _text(password),
                          _text(database), int(encrypt), timeout_s)

    def tree(self, conn: Document, node_kind: str, database: Optional[str] = None,
             schema: Optional[str] = None, obj: Optional[str] = None) -> Dict[str, Any]:
        return self._call("dbdesk_core_tree", _document(conn), _text(node_kind), _text(database),
                          _text(schema), _text(obj))

    def query(self, conn: Document, sql: str, database: Optional[str] = None, max_rows: int = 0,
              timeout_s: int = 0) -> Dict[str, Any]:
        return self._call("dbdesk_core_query", _document(conn), _text(database), _text(sql), max_rows,
                          timeout_s)

    def query_stream(self, conn: Document, sql: str, database: Optional[str] = None, max_rows: int = 0,
                     timeout_s: int = 0) -> Iterator[Dict[str, Any]]:
        """Runs the script and yields its events as they arrive, parsed
        ("batch", "columns", "rows", "result_end", "count", "message",
        "batch_end"), then the call's summary with "event": "summary" added
        (the error envelope, when nothing ran, the same way). max_rows 0: no
        row limit; timeout_s 0: no statement time-out.

        The call runs on a worker thread; its callback hands each event over
        through a bounded queue. Leaving the loop early (break, an exception,
        closing the generator) stops the call and waits for it to return:
        through a tag of its own when conn carries none (so even a statement
        that sends nothing is stopped), else at the call's next event."""
        events: "queue.Queue" = queue.Queue(_STREAM_BACKLOG)
        stop = threading.Event()
        done = object()

        def on_event(_user, json_ptr, length):
            if stop.is_set():
                return 1
            try:
                text = ctypes.string_at(json_ptr, length).decode("utf-8")
                events.put(json.loads(text, parse_float=decimal.Decimal))
            except Exception as e:  # never let an exception cross into C
                events.put(e)
                return 1
            return 0

        own_tag = None
        doc = json.loads(conn) if isinstance(conn, str) else conn
        if isinstance(doc, dict) and not doc.get("tag"):
            own_tag = "python-%d-%d" % (os.getpid(), next(_stream_ids))
            conn = dict(doc, tag=own_tag)
        callback = _EVENT_FN(on_event)  # kept alive until the worker ends
        args = (_document(conn), _text(database), _text(sql), max_rows, timeout_s)

        def work():
            try:
                events.put((done, self._call("dbdesk_core_query_stream", *args, callback, None)))
            except BaseException as e:
                events.put((done, e))

        worker = threading.Thread(target=work, name="dbdesk_core.query_stream", daemon=True)
        worker.start()
        try:
            while True:
                item = events.get()
                if isinstance(item, tuple) and item and item[0] is done:
                    if isinstance(item[1], BaseException):
                        raise item[1]
                    summary = dict(item[1])
                    summary["event"] = "summary"
                    yield summary
                    return
                if isinstance(item, Exception):
                    raise item
                yield item
        finally:
            stop.set()
            if own_tag and worker.is_alive():
                self.cancel(own_tag)
            while worker.is_alive():  # take what the callback still hands over
                try:
                    events.get(timeout=0.05)
                except queue.Empty:
                    pass
            worker.join()

    def kill_spid(self, conn: Document, spid: int) -> Dict[str, Any]:
        return self._call("dbdesk_core_kill_spid", _document(conn), spid)

    def script_object(self, conn: Document, kind: str, obj: str, action: str,
                      database: Optional[str] = None, schema: Optional[str] = None) -> Dict[str, Any]:
        return self._call("dbdesk_core_script_object", _document(conn), _text(database), _text(kind),
                          _text(schema), _text(obj), _text(action))

    def editgrid_load(self, conn: Document, table: str, database: Optional[str] = None,
                      schema: Optional[str] = None, max_rows: int = 0) -> Dict[str, Any]:
        return self._call("dbdesk_core_editgrid_load", _document(conn), _text(database), _text(schema),
                          _text(table), max_rows)

    def editgrid_apply(self, conn: Document, table: str, ops: Document, database: Optional[str] = None,
                       schema: Optional[str] = None, dry_run: bool = False) -> Dict[str, Any]:
        return self._call("dbdesk_core_editgrid_apply", _document(conn), _text(database), _text(schema),
                          _text(table), _document(ops), int(dry_run))

    def activity(self, conn: Document, view: str) -> Dict[str, Any]:
        return self._call("dbdesk_core_activity", _document(conn), _text(view))

    def storage(self, conn: Document, action: str, database: Optional[str] = None,
                arg: Optional[str] = None) -> Dict[str, Any]:
        return self._call("dbdesk_core_storage", _document(conn), _text(database), _text(action), _text(arg))

    def admin(self, conn: Document, kind: str, database: Optional[str] = None,
              arg: Optional[Document] = None) -> Dict[str, Any]:
        """arg: job_control's {"job_id": ..., "action": ...}, as a dict or its JSON text."""
        text = None if arg is None else _document(arg)
        return self._call("dbdesk_core_admin", _document(conn), _text(kind), _text(database), text)

    def cancel(self, tag: str) -> Dict[str, Any]:
        """Stops every call running under tag (the "tag" of its connection
        document); safe from any thread."""
        return self._call("dbdesk_core_cancel", _text(tag))
