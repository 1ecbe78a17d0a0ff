// Prints what the independent reader (mdb-reader) sees in a database file, as JSON: every table
// (system tables too) with its columns, row count and rows. Used by the engine tests.
const path = require("path");
const fs = require("fs");
const modDir = process.env.MDB_READER_DIR;
const MDBReader = require(path.join(modDir, "mdb-reader")).default;
const reader = new MDBReader(fs.readFileSync(process.argv[2]));
const out = { format: reader.getFormat ? reader.getFormat() : "", tables: [] };
for (const name of reader.getTableNames({ normalTables: true, systemTables: true, linkedTables: false })) {
  const t = reader.getTable(name);
  const columns = t.getColumns().map((c) => ({
    name: c.name, type: c.type, size: c.size, nullable: c.nullable, fixedLength: c.fixedLength,
    autoLong: !!c.autoLong,
  }));
  const rows = t.getData().map((r) => {
    const o = {};
    for (const k of Object.keys(r)) {
      const v = r[k];
      o[k] = v instanceof Date ? v.toISOString() : Buffer.isBuffer(v) ? v.toString("hex") : v;
    }
    return o;
  });
  out.tables.push({ name, rowCount: t.rowCount, columns, rows });
}
process.stdout.write(JSON.stringify(out, null, 1));
