// Prints every user table of an Access file as mdb-reader (npm) reads it, one JSON document:
// {"tables":{"Name":{"columns":[{"name":..,"type":..}],"rows":[[...], ...]}}}
// Binary values as lowercase hex, dates as ISO text, everything else as mdb-reader returns it.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const file = process.argv[2];
const reader = new MDBReader(readFileSync(file));
const out = { tables: {} };
for (const name of reader.getTableNames()) {
    const table = reader.getTable(name);
    const columns = table.getColumns().map((c) => ({ name: c.name, type: c.type }));
    const rows = table.getData().map((row) =>
        columns.map(({ name: col }) => {
            const v = row[col];
            if (v === null || v === undefined) return null;
            if (Buffer.isBuffer(v)) return v.toString("hex");
            if (v instanceof Date) return v.toISOString();
            if (typeof v === "bigint") return v.toString();
            return v;
        }));
    out.tables[name] = { columns, rows };
}
process.stdout.write(JSON.stringify(out));
