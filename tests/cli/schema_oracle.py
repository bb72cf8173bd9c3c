#!/usr/bin/env python3
"""Oracle for the schema reader: `quillmere-cli tables FILE --schema` against mdbtools' mdb-schema.

   schema_oracle.py QUILLMERE_CLI FIXTURES_DIR

For each file, every table mdb-schema prints is compared (names lower-cased, as mdb-schema
writes them): the primary key's columns, the other indexes' columns with their order and
uniqueness, the NOT NULL columns, the default values and the foreign keys mdb-schema
prints. Files on which mdb-schema itself reports errors (it cannot follow some index
definitions) are not in the list. Exits 0 when everything agrees, 77 without mdbtools,
1 otherwise.
"""

import json, re, shutil, subprocess, sys

FILES = [
    "jackcess/V1997/testV1997.mdb",
    "jackcess/V1997/indexTestV1997.mdb",
    "jackcess/V1997/compIndexTestV1997.mdb",
    "jackcess/V2000/testV2000.mdb",
    "jackcess/V2000/indexTestV2000.mdb",
    "jackcess/V2000/testRefGlobalV2000.mdb",
    "jackcess/V2000/fixedTextTestV2000.mdb",
    "jackcess/V2000/compIndexTestV2000.mdb",
    "jackcess/V2007/testV2007.accdb",
    "jackcess/V2007/indexTestV2007.accdb",
    "jackcess/V2007/fixedTextTestV2007.accdb",
    "jackcess/V2007/complexDataTestV2007.accdb",
    "jackcess/V2007/linkerTestV2007.accdb",
    "mdb-reader/V1997/test.mdb",
    "mdb-reader/V2000/test.mdb",
    "mdb-reader/V2007/test.accdb",
    "mdb-reader/V2010/test.accdb",
    "mdb-reader/V2016/attachments.accdb",
    "mdb-reader/V2016/currency.accdb",
    "mdb-reader/V2016/longtext.accdb",
    "mdb-reader/V2016/withdeletedcol.accdb",
]

NAME = r'"((?:[^"]|"")*)"'


def unquote(s):
    return s.replace('""', '"').lower()


def column_list(text):
    cols = []
    for part in re.findall(NAME + r'(\s+DESC)?', text):
        cols.append((unquote(part[0]), "desc" if part[1] else "asc"))
    return cols


def mdb_schema(path):
    out = subprocess.run(["mdb-schema", "--not-null", "--default-values", "--indexes", "--relations",
                          "--no-drop-table", path, "postgres"], capture_output=True, text=True)
    if out.returncode != 0 or "CRITICAL" in out.stderr or "ERROR" in out.stderr:
        return None
    tables, fks = {}, set()
    current = None
    for line in out.stdout.splitlines():
        m = re.match(r'CREATE TABLE IF NOT EXISTS ' + NAME, line)
        if m:
            current = unquote(m.group(1))
            tables[current] = {"pk": [], "indexes": set(), "notnull": set(), "defaults": {}}
            continue
        m = re.match(r'\s+' + NAME + r'\s+(.*?),?\s*$', line)
        if m and current:
            col, rest = unquote(m.group(1)), m.group(2)
            if "NOT NULL" in rest:
                tables[current]["notnull"].add(col)
            d = re.search(r"DEFAULT (.*)$", rest)
            if d:
                tables[current]["defaults"][col] = d.group(1).strip()
            continue
        m = re.match(r'CREATE (UNIQUE )?INDEX ' + NAME + ' ON ' + NAME + r' \((.*)\);', line)
        if m:
            tables[unquote(m.group(3))]["indexes"].add((bool(m.group(1)), tuple(column_list(m.group(4)))))
            continue
        m = re.match(r'ALTER TABLE ' + NAME + r' ADD CONSTRAINT ' + NAME + r' PRIMARY KEY \((.*)\);', line)
        if m:
            tables[unquote(m.group(1))]["pk"] = [c for c, _ in column_list(m.group(3))]
            continue
        m = re.match(r'ALTER TABLE ' + NAME + r' ADD CONSTRAINT ' + NAME + r' FOREIGN KEY \((.*?)\) REFERENCES ' +
                     NAME + r'\((.*?)\)', line)
        if m:
            fks.add((unquote(m.group(1)), tuple(c for c, _ in column_list(m.group(3))), unquote(m.group(4)),
                     tuple(c for c, _ in column_list(m.group(5)))))
    return tables, fks


def ours(cli, path):
    doc = json.loads(subprocess.run([cli, "tables", path, "--schema"], capture_output=True, text=True,
                                    check=True).stdout)
    tables = {}
    for t in doc["tables"]:
        entry = {"pk": [], "indexes": set(), "notnull": set(), "defaults": {}}
        for c in t["columns"]:
            if c["required"]:
                entry["notnull"].add(c["name"].lower())
            if "default" in c:
                entry["defaults"][c["name"].lower()] = c["default"]
        for ix in t["indexes"]:
            cols = tuple((c["name"].lower(), c["order"]) for c in ix["columns"])
            if ix.get("primary"):
                entry["pk"] = [c for c, _ in cols]
            elif not ix.get("foreignKey"):
                entry["indexes"].add((bool(ix.get("unique")), cols))
        tables[t["name"].lower()] = entry
    fks = {(r["table"].lower(), tuple(c.lower() for c in r["columns"]), r["referencedTable"].lower(),
            tuple(c.lower() for c in r["referencedColumns"])) for r in doc["relationships"] if r["enforced"]}
    return tables, fks


def main():
    if shutil.which("mdb-schema") is None:
        print("mdb-schema not installed: skipped")
        return 77
    cli, root = sys.argv[1], sys.argv[2]
    failures = compared = 0
    for rel in FILES:
        path = root + "/files/" + rel
        theirs = mdb_schema(path)
        if theirs is None:
            print(f"{rel}: mdb-schema reports errors, not compared")
            continue
        their_tables, their_fks = theirs
        our_tables, our_fks = ours(cli, path)
        for name, t in their_tables.items():
            if name.startswith("msys"):
                continue
            o = our_tables.get(name)
            if o is None:
                print(f"{rel}: table {name} missing")
                failures += 1
                continue
            compared += 1
            for key in ("pk", "indexes", "notnull"):
                if t[key] != o[key]:
                    print(f"{rel}: {name}: {key}: mdb-schema {sorted(t[key])} ours {sorted(o[key])}")
                    failures += 1
            for col, text in t["defaults"].items():
                mine = o["defaults"].get(col)
                if mine is None and text == "FALSE" and col in o["notnull"]:
                    continue  # mdb-schema gives every Yes/No column DEFAULT FALSE of its own
                # mdb-schema rewrites a few expressions (Now() → now()); compare ignoring case and quotes
                if mine is None or mine.lower().strip("'\"") != text.lower().strip("'\""):
                    print(f"{rel}: {name}.{col}: default mdb-schema {text!r} ours {mine!r}")
                    failures += 1
        # mdb-schema prints each relationship from the side it finds first; every one must be ours.
        for fk in their_fks:
            if fk[0].startswith("msys"):
                continue  # relationships between system tables are not the user's schema
            if fk not in our_fks:
                print(f"{rel}: foreign key {fk} missing")
                failures += 1
    print(f"{compared} tables compared, {failures} differences")
    return 1 if failures or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
