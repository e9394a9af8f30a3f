"""Tests of the ctypes wrapper against the built library and, when
DBDESK_TEST_PORT names one, the demo server.

    DBDESK_CORE_LIBRARY=... DBDESK_TEST_PORT=... python3 -m unittest -v
"""

import decimal
import json
import os
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

    def test_connection_test_and_kill(self):
        reply = self.core.connect_test("127.0.0.1", "sa", "secret", port=int(PORT))
        self.assertEqual((reply["ok"], reply["database"]), (True, "master"))
        self.assertEqual(self.core.kill_spid(self.conn, 77)["ok"], True)


if __name__ == "__main__":
    unittest.main()
