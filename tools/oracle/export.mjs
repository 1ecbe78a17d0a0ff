// Independent reader for the tests: prints a database's user tables, or one table's rows as JSON
// lines, using the mdb-reader package.
//   node export.mjs FILE            -> table names, one per line
//   node export.mjs FILE TABLE      -> one JSON object per row; dates as UTC "YYYY-MM-DDTHH:MM:SS.mmm",
//                                      binary and OLE values as lowercase hex
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const [file, table] = process.argv.slice(2);
const reader = new MDBReader(readFileSync(file));
if (table === undefined) {
  for (const name of reader.getTableNames()) process.stdout.write(name + "\n");
} else {
  const t = reader.getTable(table);
  const out = [];
  for (const row of t.getData()) {
    const o = {};
    for (const [k, v] of Object.entries(row)) {
      if (v instanceof Date) o[k] = isNaN(v.getTime()) ? "invalid" : v.toISOString().replace("Z", "");
      else if (Buffer.isBuffer(v)) o[k] = v.toString("hex");
      else if (typeof v === "bigint") o[k] = v.toString();
      else o[k] = v;
    }
    out.push(JSON.stringify(o));
    if (out.length >= 10000) {
      process.stdout.write(out.join("\n") + "\n");
      out.length = 0;
    }
  }
  if (out.length) process.stdout.write(out.join("\n") + "\n");
}
