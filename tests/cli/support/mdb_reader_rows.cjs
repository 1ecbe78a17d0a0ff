// Prints the user tables of one or more database files as mdb-reader reads them, for the
// comparison with the engine's export:
//   FILE <path>            one per file
//   TABLE <name>           one per user table, in mdb-reader's order
//   {...}                  one JSON object per row (at most ROW_LIMIT rows per table when set)
// Dates are written as "YYYY-MM-DDTHH:MM:SS.mmm" (run with TZ=UTC), binary values as lowercase
// hex, big integers as strings. MDB_READER_DIR names the node_modules folder holding mdb-reader.
const path = require("path");
const fs = require("fs");
const MDBReader = require(path.join(process.env.MDB_READER_DIR, "mdb-reader")).default;
const limit = process.env.ROW_LIMIT ? Number(process.env.ROW_LIMIT) : undefined;

function plain(v) {
  if (v instanceof Date) return isNaN(v.getTime()) ? "invalid date" : v.toISOString().replace("Z", "");
  if (Buffer.isBuffer(v)) return v.toString("hex");
  if (typeof v === "bigint") return v.toString();
  return v;
}

const out = [];
const flush = () => {
  if (out.length) process.stdout.write(out.join("\n") + "\n");
  out.length = 0;
};
for (const file of process.argv.slice(2)) {
  out.push("FILE\t" + file);
  const reader = new MDBReader(fs.readFileSync(file));
  for (const name of reader.getTableNames()) {
    out.push("TABLE\t" + name);
    let rows;
    try {
      rows = reader.getTable(name).getData(limit === undefined ? {} : { rowLimit: limit });
    } catch (e) {
      out.push("FAILED\t" + String(e.message));
      continue;
    }
    for (const row of rows) {
      const o = {};
      for (const [k, v] of Object.entries(row)) o[k] = plain(v);
      out.push(JSON.stringify(o));
      if (out.length >= 5000) flush();
    }
  }
}
flush();
