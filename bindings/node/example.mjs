// Calls quorvex-dbdesk-core from Node through koffi: runs a query against the
// demo server, prints the rows, sends a bigint key back unchanged, then runs
// a streamed query on a worker thread (koffi's asynchronous call) and prints
// its rows and messages as they arrive while the event loop keeps turning.
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

// The streamed query. Its callback is registered so that the library may call
// it from the worker thread of the asynchronous call: koffi runs it on the
// main thread's event loop while that worker waits.
const EventFn = koffi.proto('int dbdesk_core_event_fn(void *user, const char *event_json, size_t len)');
const queryStream = lib.func(
  'void *dbdesk_core_query_stream(const char *conn_json, const char *database, const char *sql, ' +
    'int max_rows, int timeout_s, dbdesk_core_event_fn *on_event, void *user)');

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

// The demo server's report pauses after its first rows and a progress message.
const STREAMED_SQL = 'EXEC demo.dbo.monthly_report';

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

// Resolves with the summary once the call has returned; onEvent sees every
// event (parsed) before that.
function streamQuery(sql, onEvent) {
  return new Promise((resolve, reject) => {
    const callback = koffi.register((_user, text) => {
      onEvent(parse(text, null, exactNumber));
      return 0;
    }, koffi.pointer(EventFn));
    queryStream.async(conn, null, sql, 0, 0, callback, null, (err, pointer) => {
      koffi.unregister(callback);
      if (err) return reject(err);
      try {
        resolve(take(pointer).reply);
      } catch (e) {
        reject(e);
      }
    });
  });
}

console.log('\nstreamed (the event loop keeps running while the query does):');
let ticks = 0;
const ticker = setInterval(() => ticks++, 10);
const started = Date.now();
const at = () => `${String(Date.now() - started).padStart(5)} ms`;
const summary = await streamQuery(STREAMED_SQL, (event) => {
  if (event.event === 'columns') console.log(`${at()}  columns: ${event.columns.map((c) => c.name).join(' | ')}`);
  else if (event.event === 'rows') for (const row of event.rows) console.log(`${at()}  row: ${row.map(show).join(' | ')}`);
  else if (event.event === 'message') console.log(`${at()}  message: ${event.message.text}`);
});
clearInterval(ticker);
console.log(`summary: ok ${summary.ok}, ${summary.batches} batches, ${summary.rows} rows; ` +
  `the event loop turned ${ticks > 0 ? 'meanwhile' : 'never (blocked!)'}`);
if (!summary.ok || ticks === 0) process.exit(1);
