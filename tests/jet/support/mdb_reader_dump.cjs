// Prints what the independent reader (mdb-reader) sees in a database file, one fact per line
// (tab-separated): "TABLE name rowCount", "COLUMN table name type size nullable autoLong" and
// "ROW table json" (big integers as strings), or "FAIL table message" for a table the reader
// cannot read. System tables are included. Given several files, each file's lines follow a line
// "FILE path", and a file the reader cannot open at all gives "FAIL" with an empty table name. A
// password in the environment variable MDB_READER_PASSWORD opens encrypted files. Used by the
// engine tests.
const path = require("path");
const fs = require("fs");
const MDBReader = require(path.join(process.env.MDB_READER_DIR, "mdb-reader")).default;
const lines = [];
const files = process.argv.slice(2);
const options = process.env.MDB_READER_PASSWORD ? { password: process.env.MDB_READER_PASSWORD } : undefined;
for (const file of files) {
  let reader;
  if (files.length > 1) {
    lines.push(["FILE", file].join("\t"));
    try {
      reader = new MDBReader(fs.readFileSync(file), options);
    } catch (e) {
      lines.push(["FAIL", "", String(e.message)].join("\t"));
      continue;
    }
  } else {
    reader = new MDBReader(fs.readFileSync(file), options);
  }
  for (const name of reader.getTableNames({ normalTables: true, systemTables: true, linkedTables: false })) {
    let t, data;
    try {
      t = reader.getTable(name);
      data = t.getData();
    } catch (e) {
      lines.push(["FAIL", name, String(e.message)].join("\t"));
      continue;
    }
    lines.push(["TABLE", name, t.rowCount].join("\t"));
    for (const c of t.getColumns())
      lines.push(["COLUMN", name, c.name, c.type, c.size, c.nullable ? 1 : 0, c.autoLong ? 1 : 0].join("\t"));
    for (const r of data) {
      const o = {};
      for (const k of Object.keys(r)) {
        const v = r[k];
        o[k] = v instanceof Date ? v.toISOString() : Buffer.isBuffer(v) ? v.toString("hex") : typeof v === "bigint" ? v.toString() : v;
      }
      lines.push(["ROW", name, JSON.stringify(o)].join("\t"));
    }
  }
}
process.stdout.write(lines.join("\n") + "\n");
