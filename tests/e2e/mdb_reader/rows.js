// Prints the table "Maps" of a Jet file as mdb-reader reads it, for the end-to-end tests: a line
// "columns\t<name>:<type>,...", then one line a row in stored order, "<Number>\t<ole|memo|null>\t<hex of the bytes>"
// (a Memo's text turned back into bytes through Windows-1252). Fails (exit 1, one line on standard error) when the
// file's database password is not PASSWORD. Usage: node rows.js FILE [PASSWORD]
"use strict";
const fs = require("fs");

// Windows-1252's 0x80-0x9F; the five bytes it leaves undefined stand for the code point of the same value.
const HIGH = [0x20ac, 0x81, 0x201a, 0x192, 0x201e, 0x2026, 0x2020, 0x2021, 0x2c6, 0x2030, 0x160, 0x2039, 0x152, 0x8d,
              0x17d, 0x8f, 0x90, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022, 0x2013, 0x2014, 0x2dc, 0x2122, 0x161, 0x203a,
              0x153, 0x9d, 0x17e, 0x178];
const BYTE = new Map();
for (let b = 0; b < 256; b++) BYTE.set(b >= 0x80 && b < 0xa0 ? HIGH[b - 0x80] : b, b);

function memoBytes(text, number) {
  const out = Buffer.alloc(text.length);
  for (let i = 0; i < text.length; i++) {
    const b = BYTE.get(text.charCodeAt(i));
    if (b === undefined) {
      const code = text.charCodeAt(i).toString(16).toUpperCase();
      throw new Error(`row ${number}: Memo character ${i} is U+${code}, which no Windows-1252 byte gives`);
    }
    out[i] = b;
  }
  return out;
}

async function main([file, password = ""]) {
  // mdb-reader is an ES module only; a dynamic import loads it from this CommonJS script on Node 18 and later.
  const { default: MDBReader } = await import("mdb-reader");
  const reader = new MDBReader(fs.readFileSync(file), { password });
  // mdb-reader leaves a Jet 4 password unchecked: compare it here.
  const stored = reader.getPassword() ?? "";
  if (stored !== password) throw new Error(`database password is "${stored}", expected "${password}"`);
  const table = reader.getTable("Maps");
  const columns = table.getColumns();
  process.stdout.write("columns\t" + columns.map((c) => `${c.name}:${c.type}`).join(",") + "\n");
  const kind = table.getColumn("Data").type;
  for (const row of table.getData({ columns: ["Number", "Data"] })) {
    const value = row.Data;
    const bytes = value === null ? null : kind === "memo" ? memoBytes(value, row.Number) : value;
    const number = row.Number === null ? "null" : row.Number;
    const shown = bytes === null ? "null\t" : `${kind}\t${bytes.toString("hex")}`;
    process.stdout.write(`${number}\t${shown}\n`);
  }
}

main(process.argv.slice(2)).catch((error) => {
  process.stderr.write(`mdb-reader: ${error.message}\n`);
  process.exitCode = 1;
});
