// Calls quorvex-dbdesk-core from Node through koffi: runs a query against the
// demo server, prints the rows, and sends a bigint key back unchanged.
//
//   node example.mjs PORT      (DBDESK_CORE_LIBRARY may name the library file)
//
// Replies are parsed with lossless-json: JSON.parse would turn every integer
// above 2^53 into a neighbouring double, and an edit sent back with such a key
// would change another row.
import koffi from 'koffi';
import { isInteger, LosslessNumber, parse, stringify } from 'lossless-json';

const port = Number(process.argv[2]);
if (!Number.isInteger(port) || port < 1 || port > 65535) {
  console.error('usage: node example.mjs PORT');
  process.exit(2);
}

const lib = koffi.load(process.env.DBDESK_CORE_LIBRARY ?? 'quorvex-dbdesk-core.so.1');
const version = lib.func('const char *dbdesk_core_version(void)');
const release = lib.func('void dbdesk_core_free(void *p)');
// The reply stays a raw pointer so that it can be handed back to dbdesk_core_free.
const query = lib.func(
  'void *dbdesk_core_query(const char *conn_json, const char *database, const char *sql, int max_rows, int timeout_s)');

// Safe integers become numbers, larger ones BigInt; decimals keep their digits.
function exactNumber(text) {
  if (!isInteger(text)) return new LosslessNumber(text);
  const n = Number(text);
  return Number.isSafeInteger(n) ? n : BigInt(text);
}

// The reply text, parsed both ways, and always released.
function take(pointer) {
  if (!pointer) throw new Error('the library returned no reply');
  try {
    const text = koffi.decode(pointer, 'char', -1);
    return { reply: parse(text, null, exactNumber), naive: JSON.parse(text) };
  } finally {
    release(pointer);
  }
}

const conn = stringify({ host: '127.0.0.1', port, user: 'sa', password: 'secret' });

function rowsOf(sql) {
  const { reply, naive } = take(query(conn, null, sql, 0, 0));
  if (!reply.ok) throw new Error(`query failed: ${reply.error}`);
  const result = reply.batches[0].results[0];
  return { columns: result.columns.map((c) => c.name), rows: result.rows, naiveRows: naive.batches[0].results[0].rows };
}

const show = (cell) => (cell === null ? 'NULL' : String(cell));

console.log(`library ${version()}`);
const { columns, rows, naiveRows } = rowsOf('SELECT id, owner, balance FROM demo.dbo.accounts');
console.log(columns.join(' | '));
for (const row of rows) console.log(row.map(show).join(' | '));

const key = rows[0][0];
console.log(`\nkey read exactly: ${key} (${typeof key}); JSON.parse would have read ${naiveRows[0][0]}`);
const sql = `SELECT id, owner, balance FROM demo.dbo.accounts WHERE id = ${stringify(key)}`;
console.log(`sent back: ${sql}`);
const again = rowsOf(sql).rows;
if (again.length !== 1 || again[0][1] !== rows[0][1]) {
  console.error('the key did not find its row');
  process.exit(1);
}
console.log(`found ${again[0].map(show).join(' | ')}`);
console.log(`an edit of that row: ${stringify({ ops: [{ op: 'delete', pk: { id: key } }] })}`);
