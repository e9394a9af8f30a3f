"""Runs a query against the demo server through the installed library and
prints the rows.

    python3 example.py PORT      (DBDESK_CORE_LIBRARY may name the library file)
"""

import sys

from dbdesk_core import DbdeskCore


def main() -> int:
    port = int(sys.argv[1])
    core = DbdeskCore()
    conn = {"host": "127.0.0.1", "port": port, "user": "sa", "password": "secret"}
    print("library", core.version())
    reply = core.query(conn, "SELECT id, owner, balance FROM demo.dbo.accounts")
    if not reply["ok"]:
        print("query failed:", reply["error"], file=sys.stderr)
        return 1
    result = reply["batches"][0]["results"][0]
    print(" | ".join(col["name"] for col in result["columns"]))
    for row in result["rows"]:
        print(" | ".join("NULL" if cell is None else str(cell) for cell in row))
    return 0


if __name__ == "__main__":
    sys.exit(main())
