"""Tests of the ctypes wrapper against the built library and, when
DBDESK_TEST_PORT names one, the demo server.

    DBDESK_CORE_LIBRARY=... DBDESK_TEST_PORT=... python3 -m unittest -v
"""

import decimal
import json
import os
import threading
import time
import unittest
from unittest import mock

from dbdesk_core import DbdeskCore

PORT = os.environ.get("DBDESK_TEST_PORT")


class CallFrame(unittest.TestCase):
    def setUp(self):
        self.core = DbdeskCore()

    def test_missing_arguments_reach_the_library_as_null(self):
        conn = {"host": "h", "user": "u"}
        cases = [
            (lambda: self.core.tree(conn, ""), "node_kind"),
            (lambda: self.core.query(conn, ""), "sql"),
            (lambda: self.core.kill_spid("", 5), "conn_json"),
            (lambda: self.core.script_object(conn, "table", "", "create"), "obj"),
            (lambda: self.core.editgrid_load(conn, ""), "table"),
            (lambda: self.core.editgrid_apply(conn, "t", ""), "ops_json"),
            (lambda: self.core.activity(conn, ""), "view"),
            (lambda: self.core.storage(conn, ""), "action"),
            (lambda: self.core.admin(conn, ""), "kind"),
        ]
        for call, name in cases:
            with self.subTest(name=name):
                reply = call()
                self.assertEqual(reply, {"ok": False, "error": "missing required parameter: " + name})
                self.assertEqual(self.core.last_error(), reply["error"])

    def test_job_control_takes_its_argument_as_a_dict_or_text(self):
        conn = {"host": "h", "user": "u"}
        for arg in ({"job_id": "j", "action": "Start"}, '{"job_id":"j","action":"Start"}'):
            with self.subTest(arg=arg):
                reply = self.core.admin(conn, "job_control", arg=arg)
                self.assertEqual(reply["error"], "unknown job action: Start")

    def test_every_reply_is_freed_even_when_reading_it_fails(self):
        freed = []
        real_free = self.core._free
        self.core._free = lambda p: (freed.append(p), real_free(p))
        self.core.query({"host": "h", "user": "u"}, "")
        with mock.patch("dbdesk_core.json.loads", side_effect=ValueError("broken")):
            with self.assertRaises(ValueError):
                self.core.activity({"host": "h", "user": "u"}, "")
        self.assertEqual(len(freed), 2)
        self.assertEqual(self.core.version(), "1.2.0")


@unittest.skipUnless(PORT, "DBDESK_TEST_PORT names no demo server")
class AgainstDemoServer(unittest.TestCase):
    def setUp(self):
        self.core = DbdeskCore()
        self.conn = {"host": "127.0.0.1", "port": int(PORT), "user": "sa", "password": "secret"}

    def rows(self, sql):
        reply = self.core.query(self.conn, sql)
        self.assertTrue(reply["ok"], reply["error"])
        return reply["batches"][0]["results"][0]["rows"]

    def test_bigint_and_decimal_arrive_exact(self):
        self.assertEqual(self.rows("SELECT id, owner, balance FROM demo.dbo.accounts"), [
            [9007199254740993, "Ada", decimal.Decimal("12345678901234567890.1234567891")],
            [42, "Brian", decimal.Decimal("-0.5")],
            [9223372036854775807, "Grace", None],
        ])

    def test_a_bigint_key_goes_back_unchanged(self):
        key = self.rows("SELECT id, owner, balance FROM demo.dbo.accounts")[0][0]
        rows = self.rows("SELECT id, owner, balance FROM demo.dbo.accounts WHERE id = %s" % json.dumps(key))
        self.assertEqual(rows[0][1], "Ada")

    def test_query_stream_yields_the_events_in_order_then_the_summary(self):
        events = list(self.core.query_stream(
            self.conn, "SELECT id, owner, balance FROM demo.dbo.accounts\nGO\nPRINT 'between'\nGO\nSELECT nope"))
        kinds = [e["event"] for e in events]
        self.assertEqual(kinds[:5], ["batch", "columns", "rows", "result_end", "batch_end"])
        self.assertEqual(kinds[5:8], ["batch", "message", "batch_end"])
        self.assertEqual(kinds[-1], "summary")
        self.assertEqual(events[2]["rows"][0], [9007199254740993, "Ada",
                                                decimal.Decimal("12345678901234567890.1234567891")])
        self.assertEqual(events[6]["message"]["text"], "between")
        summary = events[-1]
        self.assertEqual((summary["ok"], summary["batches"], summary["rows"]), (False, 3, 3))
        self.assertFalse(events[-2]["ok"])  # the last batch failed

    def test_query_stream_hands_over_rows_and_messages_while_the_call_runs(self):
        seen = [(e["event"], time.monotonic()) for e in self.core.query_stream(self.conn, "EXEC demo.dbo.monthly_report")]
        first_message = next(at for kind, at in seen if kind == "message")
        first_rows = next(at for kind, at in seen if kind == "rows")
        # the report pauses 1.5 s after its first quarter and progress message
        self.assertGreater(seen[-1][1] - first_message, 1.0)
        self.assertGreater(seen[-1][1] - first_rows, 1.0)

    def test_leaving_a_query_stream_early_or_a_cancel_stops_the_call(self):
        script = "WAITFOR DELAY '00:00:30'\nGO\nSELECT 1 AS n"
        stream = self.core.query_stream(self.conn, script)
        self.assertEqual(next(stream), {"event": "batch", "batch": 1})
        started = time.monotonic()
        stream.close()  # the server is still working: closing cancels the call
        self.assertLess(time.monotonic() - started, 10)

        stopper = threading.Timer(0.5, lambda: self.core.cancel("py-stream"))
        stopper.start()
        events = list(self.core.query_stream(dict(self.conn, tag="py-stream"), script))
        stopper.join()
        self.assertEqual(events[-1]["error"], "cancelled by the caller")
        self.assertNotIn("columns", [e["event"] for e in events])  # the later batch was not sent
        self.assertEqual(self.rows("SELECT 1 AS n"), [[1]])

    def test_query_stream_reports_a_refused_call_as_its_summary(self):
        events = list(self.core.query_stream(dict(self.conn, password="wrong"), "SELECT 1 AS n"))
        self.assertEqual(len(events), 1)
        self.assertEqual((events[0]["event"], events[0]["ok"]), ("summary", False))

    def test_connection_test_and_kill(self):
        reply = self.core.connect_test("127.0.0.1", "sa", "secret", port=int(PORT))
        self.assertEqual((reply["ok"], reply["database"]), (True, "master"))
        self.assertEqual(self.core.kill_spid(self.conn, 77)["ok"], True)


if __name__ == "__main__":
    unittest.main()
