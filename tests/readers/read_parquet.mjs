// Reads Parquet files with one of three readers that this project did not write, and prints
// what it read as one JSON document in a form that does not depend on the reader:
//
//   node read_parquet.mjs duckdb|arrow|hyparquet FILE...
//       {"columns":[{"name","type"}...],"rows":[[...]...]}, the rows of the files one after another
//   node read_parquet.mjs meta FILE
//       DuckDB's view of the file's metadata
//   node read_parquet.mjs sql STATEMENT...
//       runs statements in DuckDB (to make reference files with its COPY)
//
// Every value is taken from the reader in its raw form (unscaled integer, count of time units
// since the epoch, bytes) and formatted here, once for all readers: a reader's own conversions
// go through JavaScript doubles or Date, which would hide exactly the faults the tests look for.
//
// The readers are installed by scripts/setup.sh into build/deps/readers (or the folder named by
// ROWFLUME_READERS); exit status 3 says they are not there.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const installDir = process.env.ROWFLUME_READERS || resolve(here, '../../build/deps/readers');
const NOT_INSTALLED = 3;

class Unsupported extends Error {}

// The script lives in the source tree and its packages in the build tree, so bare imports
// would not find them: each is resolved from the install folder instead.
async function load(name) {
  let path;
  try {
    path = createRequire(join(installDir, 'package.json')).resolve(name);
  } catch {
    process.stderr.write(`the Parquet reader package ${name} is not installed in ${installDir}` +
                         ' (scripts/setup.sh installs it)\n');
    process.exit(NOT_INSTALLED);
  }
  return import(pathToFileURL(path).href);
}

// ---- One form for every value -----------------------------------------------------------------

const UNITS = {
  S: { perSecond: 1n, digits: 0 },
  MS: { perSecond: 1000n, digits: 3 },
  US: { perSecond: 1000000n, digits: 6 },
  NS: { perSecond: 1000000000n, digits: 9 },
};

function floorDiv(a, b) {
  const q = a / b;
  return (a % b !== 0n && (a < 0n) !== (b < 0n)) ? q - 1n : q;
}

const pad = (n, width) => String(n).padStart(width, '0');

// Days since 1970-01-01 to a proleptic Gregorian date, as a count of 400-year eras.
function civilDate(days) {
  const z = days + 719468;
  const era = Math.floor(z / 146097);
  const doe = z - era * 146097;
  const yoe = Math.floor((doe - Math.floor(doe / 1460) + Math.floor(doe / 36524) -
                          Math.floor(doe / 146096)) / 365);
  const doy = doe - (365 * yoe + Math.floor(yoe / 4) - Math.floor(yoe / 100));
  const mp = Math.floor((5 * doy + 2) / 153);
  const day = doy - Math.floor((153 * mp + 2) / 5) + 1;
  const month = mp < 10 ? mp + 3 : mp - 9;
  const year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const y = year < 0 ? '-' + pad(-year, 4) : year > 9999 ? '+' + year : pad(year, 4);
  return `${y}-${pad(month, 2)}-${pad(day, 2)}`;
}

function formatTimestamp(count, unit, utc) {
  const { perSecond, digits } = UNITS[unit];
  const value = BigInt(count);
  const seconds = floorDiv(value, perSecond);
  const fraction = value - seconds * perSecond;
  const days = floorDiv(seconds, 86400n);
  const inDay = Number(seconds - days * 86400n);
  const time = `${pad(Math.floor(inDay / 3600), 2)}:${pad(Math.floor(inDay / 60) % 60, 2)}:` +
               `${pad(inDay % 60, 2)}${digits ? '.' + pad(fraction, digits) : ''}`;
  return `${civilDate(Number(days))}T${time}${utc ? 'Z' : ''}`;
}

function formatDecimal(unscaled, scale) {
  const value = BigInt(unscaled);
  const digits = (value < 0n ? -value : value).toString().padStart(scale + 1, '0');
  const whole = digits.slice(0, digits.length - scale);
  const sign = value < 0n ? '-' : '';
  return scale === 0 ? sign + whole : `${sign}${whole}.${digits.slice(digits.length - scale)}`;
}

function formatFloat(x) {
  if (Number.isNaN(x)) return 'NaN';
  if (x === Infinity) return 'Infinity';
  if (x === -Infinity) return '-Infinity';
  if (Object.is(x, -0)) return '-0';
  return x;
}

const hex = (bytes) => '0x' + Buffer.from(bytes.buffer, bytes.byteOffset, bytes.byteLength)
  .toString('hex');

function integerText(value) {
  if (typeof value === 'number' && !Number.isSafeInteger(value)) {
    throw new Error(`an integer read as the inexact number ${value}`);
  }
  return BigInt(value).toString();
}

// A type is one of: BOOLEAN, INT8..INT64, UINT8..UINT64, FLOAT, DOUBLE, DECIMAL(p,s), STRING,
// BINARY, DATE, TIMESTAMP_{S,MS,US,NS} (local) and TIMESTAMPTZ_{S,MS,US,NS} (adjusted to UTC);
// S only from Arrow, whose reader follows an Arrow schema embedded in the file.
// `raw` is what the reader adapters hand over for that type (see above).
function formatValue(type, raw) {
  if (raw === null || raw === undefined) return null;
  if (type === 'BOOLEAN') return Boolean(raw);
  if (type === 'FLOAT' || type === 'DOUBLE') return formatFloat(raw);
  if (type === 'STRING') return String(raw);
  if (type === 'BINARY') return hex(raw);
  if (type === 'DATE') return civilDate(Number(raw));
  if (/^U?INT\d+$/.test(type)) return integerText(raw);
  const decimal = /^DECIMAL\((\d+),(\d+)\)$/.exec(type);
  if (decimal) return formatDecimal(raw, Number(decimal[2]));
  const timestamp = /^TIMESTAMP(TZ)?_(S|MS|US|NS)$/.exec(type);
  if (timestamp) return formatTimestamp(raw, timestamp[2], Boolean(timestamp[1]));
  throw new Unsupported(`no value form for the type ${type}`);
}

function timestampType(unit, utc) {
  return `TIMESTAMP${utc ? 'TZ' : ''}_${unit}`;
}

// ---- DuckDB -------------------------------------------------------------------------------------

const sqlText = (s) => `'${s.replaceAll("'", "''")}'`;

async function duckdbConnection() {
  const duckdb = await load('@duckdb/node-api');
  const { DuckDBInstance } = duckdb.default ?? duckdb;
  // Nothing may be fetched while testing: the extensions it needs are built in.
  const instance = await DuckDBInstance.create(':memory:',
                                                { autoinstall_known_extensions: 'false' });
  return { connection: await instance.connect(), duckdb: duckdb.default ?? duckdb };
}

// DuckDB widens millisecond timestamps to its microsecond type and cuts UTC nanoseconds to
// microseconds, so its result type alone does not say what the file holds: the unit comes from
// its reading of the file's schema.
function schemaUnit(entry) {
  if (entry.type === 'INT96') return { unit: 'NS', utc: false };
  const logical = entry.logical_type ?? '';
  const match = /isAdjustedToUTC=(\d).*?(MILLIS|MICROS|NANOS)=(?!<null>)/.exec(logical);
  const names = { MILLIS: 'MS', MICROS: 'US', NANOS: 'NS' };
  if (match) return { unit: names[match[2]], utc: match[1] === '1' };
  const converted = /^TIMESTAMP_(MILLIS|MICROS)$/.exec(entry.converted_type ?? '');
  if (converted) return { unit: names[converted[1]], utc: true };
  throw new Unsupported(`no timestamp unit in DuckDB's schema entry ${JSON.stringify(entry)}`);
}

async function readDuckdb(files) {
  const { connection, duckdb } = await duckdbConnection();
  const T = duckdb.DuckDBTypeId;
  const list = `[${files.map(sqlText).join(', ')}]`;
  const result = await connection.runAndReadAll(`SELECT * FROM read_parquet(${list})`);
  const schema = (await connection.runAndReadAll(
    `SELECT name, type, logical_type, converted_type FROM parquet_schema(${sqlText(files[0])})`))
    .getRowObjectsJS();
  const simple = {
    [T.BOOLEAN]: 'BOOLEAN', [T.TINYINT]: 'INT8', [T.SMALLINT]: 'INT16', [T.INTEGER]: 'INT32',
    [T.BIGINT]: 'INT64', [T.UTINYINT]: 'UINT8', [T.USMALLINT]: 'UINT16', [T.UINTEGER]: 'UINT32',
    [T.UBIGINT]: 'UINT64', [T.FLOAT]: 'FLOAT', [T.DOUBLE]: 'DOUBLE', [T.VARCHAR]: 'STRING',
    [T.BLOB]: 'BINARY', [T.DATE]: 'DATE',
  };
  // Per column: its normalised type, and how to turn DuckDB's value into the raw form.
  const columns = result.columnNames().map((name, i) => {
    const type = result.columnType(i);
    const id = type.typeId;
    if (simple[id]) {
      const raw = id === T.DATE ? (v) => v.days : id === T.BLOB ? (v) => v.bytes : (v) => v;
      return { name, type: simple[id], raw };
    }
    if (id === T.DECIMAL) {
      return { name, type: `DECIMAL(${type.width},${type.scale})`, raw: (v) => v.value };
    }
    const delivered = { [T.TIMESTAMP_MS]: ['MS', 'millis'], [T.TIMESTAMP]: ['US', 'micros'],
                        [T.TIMESTAMP_TZ]: ['US', 'micros'], [T.TIMESTAMP_NS]: ['NS', 'nanos'] }[id];
    if (!delivered) throw new Unsupported(`DuckDB type ${type} of column ${name}`);
    const entry = schema.find((e) => e.name === name);
    const file = entry ? schemaUnit(entry) : { unit: delivered[0], utc: id === T.TIMESTAMP_TZ };
    const [unit, field] = delivered;
    const column = { name, type: timestampType(file.unit, file.utc) };
    const fileRate = UNITS[file.unit].perSecond;
    const readRate = UNITS[unit].perSecond;
    if (fileRate <= readRate) {
      const ratio = readRate / fileRate;
      column.raw = (v) => {
        if (v[field] % ratio !== 0n) throw new Error(`${name}: ${v[field]} is not in ${file.unit}`);
        return v[field] / ratio;
      };
    } else {
      // Coarser than the file: say so rather than pad the lost digits with zeros.
      column.read_as = timestampType(unit, file.utc);
      column.raw = (v) => v[field];
    }
    return column;
  });
  const rows = result.getRows().map((row) => row.map((v, i) => {
    const column = columns[i];
    if (v === null) return null;
    return formatValue(column.read_as ?? column.type, column.raw(v));
  }));
  return { columns: columns.map(({ name, type, read_as }) =>
    (read_as ? { name, type, read_as } : { name, type })), rows };
}

// ---- Apache Arrow's Rust reader (WebAssembly), rows through Arrow JS ---------------------------

function arrowType(A, field) {
  const t = field.type;
  switch (t.typeId) {
    case A.Type.Bool: return 'BOOLEAN';
    case A.Type.Int: return `${t.isSigned ? '' : 'U'}INT${t.bitWidth}`;
    case A.Type.Float:
      if (t.precision === A.Precision.SINGLE) return 'FLOAT';
      if (t.precision === A.Precision.DOUBLE) return 'DOUBLE';
      break;
    case A.Type.Decimal: return `DECIMAL(${t.precision},${t.scale})`;
    case A.Type.Utf8: case A.Type.LargeUtf8: return 'STRING';
    case A.Type.Binary: case A.Type.LargeBinary: case A.Type.FixedSizeBinary: return 'BINARY';
    case A.Type.Date: return 'DATE';
    case A.Type.Timestamp: {
      const unit = { [A.TimeUnit.SECOND]: 'S', [A.TimeUnit.MILLISECOND]: 'MS',
                     [A.TimeUnit.MICROSECOND]: 'US', [A.TimeUnit.NANOSECOND]: 'NS' }[t.unit];
      if (unit) return timestampType(unit, Boolean(t.timezone));
      break;
    }
    case A.Type.Dictionary: return arrowType(A, { type: t.dictionary });
    default: break;
  }
  throw new Unsupported(`Arrow type ${t} of column ${field.name}`);
}

// Arrow JS turns timestamps into millisecond doubles and decimals into word arrays, so the raw
// value is taken from the column's buffers: 64-bit counts, and little-endian two's complement
// words for decimals.
function arrowRaw(A, data, i) {
  const t = data.type;
  const at = data.offset + i;
  if (t.typeId === A.Type.Timestamp) return data.values[at];
  if (t.typeId === A.Type.Date) {
    if (t.unit === A.DateUnit.DAY) return data.values[at];
    const millis = BigInt(data.values[at]);
    if (millis % 86400000n !== 0n) throw new Error(`a date of ${millis} ms is not a whole day`);
    return Number(millis / 86400000n);
  }
  if (t.typeId === A.Type.Decimal) {
    const words = t.bitWidth / 32;
    let value = 0n;
    for (let w = words - 1; w >= 0; w--) {
      value = (value << 32n) | BigInt(data.values[at * words + w]);
    }
    const bits = BigInt(t.bitWidth);
    return value >= 1n << (bits - 1n) ? value - (1n << bits) : value;
  }
  return new A.Vector([data]).get(i);
}

async function readArrow(files) {
  const wasm = await load('parquet-wasm/node');
  const arrow = await load('apache-arrow');
  const A = arrow.default ?? arrow;
  let columns;
  const rows = [];
  for (const file of files) {
    const bytes = new Uint8Array(readFileSync(file));
    const table = A.tableFromIPC(wasm.readParquet(bytes).intoIPCStream());
    const these = table.schema.fields.map((f) => ({ name: f.name, type: arrowType(A, f) }));
    columns = sameColumns(columns, these, file);
    const start = rows.length;
    for (let r = 0; r < table.numRows; r++) rows.push(new Array(these.length));
    these.forEach((column, c) => {
      let r = start;
      for (const data of table.getChildAt(c).data) {
        for (let i = 0; i < data.length; i++, r++) {
          rows[r][c] = data.getValid(i) ? formatValue(column.type, arrowRaw(A, data, i)) : null;
        }
      }
    });
  }
  return { columns, rows };
}

// ---- hyparquet ----------------------------------------------------------------------------------

function hyparquetType(element) {
  const logical = element.logical_type;
  const converted = element.converted_type;
  if (logical) {
    switch (logical.type) {
      case 'STRING': case 'ENUM': return 'STRING';
      case 'DECIMAL': return `DECIMAL(${logical.precision},${logical.scale})`;
      case 'DATE': return 'DATE';
      case 'INTEGER': return `${logical.isSigned ? '' : 'U'}INT${logical.bitWidth}`;
      case 'TIMESTAMP':
        return timestampType({ MILLIS: 'MS', MICROS: 'US', NANOS: 'NS' }[logical.unit],
                             logical.isAdjustedToUTC);
      default: throw new Unsupported(`logical type ${logical.type} of column ${element.name}`);
    }
  }
  if (converted) {
    if (converted === 'UTF8' || converted === 'ENUM') return 'STRING';
    if (converted === 'DECIMAL') return `DECIMAL(${element.precision},${element.scale ?? 0})`;
    if (converted === 'DATE') return 'DATE';
    // The converted types predate local timestamps: theirs are adjusted to UTC.
    if (converted === 'TIMESTAMP_MILLIS') return 'TIMESTAMPTZ_MS';
    if (converted === 'TIMESTAMP_MICROS') return 'TIMESTAMPTZ_US';
    const integer = /^(U?INT)_(8|16|32|64)$/.exec(converted);
    if (integer) return `${integer[1]}${integer[2]}`;
    throw new Unsupported(`converted type ${converted} of column ${element.name}`);
  }
  const physical = { BOOLEAN: 'BOOLEAN', INT32: 'INT32', INT64: 'INT64', FLOAT: 'FLOAT',
                     DOUBLE: 'DOUBLE', BYTE_ARRAY: 'BINARY', FIXED_LEN_BYTE_ARRAY: 'BINARY',
                     INT96: 'TIMESTAMP_NS' }[element.type];
  if (physical) return physical;
  throw new Unsupported(`physical type ${element.type} of column ${element.name}`);
}

// Big-endian two's complement, as Parquet stores decimals in byte arrays.
function signedBigEndian(bytes) {
  let value = 0n;
  for (const b of bytes) value = (value << 8n) | BigInt(b);
  const bits = BigInt(bytes.length * 8);
  return bytes.length && value >= 1n << (bits - 1n) ? value - (1n << bits) : value;
}

async function readHyparquet(files) {
  const { parquetMetadata, parquetRead } = await load('hyparquet');
  const { compressors } = await load('hyparquet-compressors');
  const keep = (v) => v;
  // Timestamps and dates as their raw counts rather than Date objects of whole milliseconds.
  const parsers = { timestampFromMilliseconds: keep, timestampFromMicroseconds: keep,
                    timestampFromNanoseconds: keep, dateFromDays: keep };
  let columns;
  const rows = [];
  for (const file of files) {
    const buffer = readFileSync(file);
    const bytes = buffer.buffer.slice(buffer.byteOffset, buffer.byteOffset + buffer.byteLength);
    const metadata = parquetMetadata(bytes);
    const [root, ...elements] = metadata.schema;
    if (elements.length !== root.num_children || elements.some((e) => e.num_children)) {
      throw new Unsupported(`nested columns in ${file}`);
    }
    const these = elements.map((e) => ({ name: e.name, type: hyparquetType(e) }));
    columns = sameColumns(columns, these, file);
    // hyparquet turns decimals into doubles with no hook to stop it; without their annotation
    // it hands over the stored integers and bytes, and the scale is known from the schema.
    const plain = { ...metadata, schema: metadata.schema.map((e) =>
      (e.converted_type === 'DECIMAL' || e.logical_type?.type === 'DECIMAL'
        ? { ...e, converted_type: undefined, logical_type: undefined } : e)) };
    await parquetRead({
      file: bytes, metadata: plain, compressors, parsers, utf8: false,
      onComplete: (data) => {
        for (const row of data) {
          rows.push(row.map((v, c) => {
            if (v === null || v === undefined) return null;
            const type = these[c].type;
            const raw = type.startsWith('DECIMAL') && v instanceof Uint8Array
              ? signedBigEndian(v) : v;
            return formatValue(type, raw);
          }));
        }
      },
    });
  }
  return { columns, rows };
}

function sameColumns(before, these, file) {
  if (before && JSON.stringify(before) !== JSON.stringify(these)) {
    throw new Unsupported(`the columns of ${file} are not those of the files before it`);
  }
  return these;
}

// ---- Metadata -----------------------------------------------------------------------------------

// Exact JSON for metadata values: 64-bit counts as integer literals (Python reads them exactly),
// byte strings as text where they are UTF-8.
function toJson(value) {
  if (value === null || value === undefined) return 'null';
  if (typeof value === 'bigint') return value.toString();
  if (typeof value === 'number') {
    return Number.isFinite(value) ? String(value) : JSON.stringify(String(value));
  }
  if (typeof value === 'string' || typeof value === 'boolean') return JSON.stringify(value);
  if (value instanceof Uint8Array) {
    try {
      return JSON.stringify(new TextDecoder('utf-8', { fatal: true }).decode(value));
    } catch {
      return JSON.stringify(hex(value));
    }
  }
  if (value instanceof Date) return JSON.stringify(value.toISOString());
  if (Array.isArray(value)) return `[${value.map(toJson).join(',')}]`;
  if (typeof value === 'object' && value.constructor === Object) {
    const members = Object.entries(value).map(([k, v]) => `${JSON.stringify(k)}:${toJson(v)}`);
    return `{${members.join(',')}}`;
  }
  return JSON.stringify(String(value));
}

async function readMeta(file) {
  const { connection } = await duckdbConnection();
  const out = {};
  for (const [key, fn] of [['file', 'parquet_file_metadata'], ['schema', 'parquet_schema'],
                           ['metadata', 'parquet_metadata'], ['kv', 'parquet_kv_metadata']]) {
    const result = await connection.runAndReadAll(`SELECT * FROM ${fn}(${sqlText(file)})`);
    out[key] = result.getRowObjectsJS();
  }
  return out;
}

// ---- Command line -------------------------------------------------------------------------------

const readers = { duckdb: readDuckdb, arrow: readArrow, hyparquet: readHyparquet };
const [mode, ...files] = process.argv.slice(2);
if ((!readers[mode] && mode !== 'meta' && mode !== 'sql') || files.length === 0 ||
    (mode === 'meta' && files.length !== 1)) {
  process.stderr.write('usage: node read_parquet.mjs duckdb|arrow|hyparquet FILE...\n' +
                       '       node read_parquet.mjs meta FILE\n' +
                       '       node read_parquet.mjs sql STATEMENT...\n');
  process.exit(2);
}
try {
  if (mode === 'sql') {
    const { connection } = await duckdbConnection();
    for (const statement of files) await connection.run(statement);
    process.exit(0);
  }
  const document = mode === 'meta' ? await readMeta(files[0]) : await readers[mode](files);
  process.stdout.write(mode === 'meta' ? toJson(document) : JSON.stringify(document));
  process.stdout.write('\n');
} catch (error) {
  process.stderr.write(`${mode}: ${error instanceof Unsupported ? 'unsupported: ' : ''}` +
                       `${error.message}\n`);
  process.exit(1);
}
