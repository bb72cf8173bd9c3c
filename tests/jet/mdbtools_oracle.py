#!/usr/bin/env python3
"""Second oracle: compare jet-dump with mdbtools (mdb-export) on fixture files.

   mdbtools_oracle.py JET_DUMP FIXTURES_DIR [EXTRA_FILE...]

For each chosen file and user table, `jet-dump --format json --table T` is compared with
`mdb-export` of the same table, cell by cell, allowing mdbtools' documented losses
(binary cut at the first zero byte, "" vs NULL, 16 significant digits, whole seconds).
Column types mdbtools cannot read (bigint, datetimeext, complex, ole) are skipped.
Rows are compared as multisets. Not in the list because mdbtools 1.0 cannot read them
right: oldDatesV2007 (dates before 1900 come out as "1900-01-00"), testEmoticonsV2010
(characters outside the BMP come out as "??"), files with overflow rows (mdbtools skips
them), encrypted files. Exits 0 when every file agrees, 77 when mdbtools is
missing (CTest "skipped"), 1 otherwise.
"""

import csv, io, json, math, shutil, subprocess, sys, datetime as dt

FILES = [
    "mdb-reader/V1997/test.mdb",
    "mdb-reader/V2000/test.mdb",
    "mdb-reader/V2003/test.mdb",
    "mdb-reader/V2007/test.accdb",
    "mdb-reader/V2010/test.accdb",
    "mdb-reader/V2003/numeric.mdb",
    "mdb-reader/V2016/currency.accdb",
    "mdb-reader/V2016/longtext.accdb",
    "jackcess/V1997/testV1997.mdb",
    "jackcess/V1997/compIndexTestV1997.mdb",
    "jackcess/V1997/delTestV1997.mdb",
    "jackcess/V1997/delColTestV1997.mdb",
    "jackcess/V2000/testV2000.mdb",
    "jackcess/V2000/compIndexTestV2000.mdb",
    "jackcess/V2000/indexTestV2000.mdb",
    "jackcess/V2000/testIndexPropertiesV2000.mdb",
    "jackcess/V2003/testUnicodeCompV2003.mdb",
    "jackcess/V2007/testV2007.accdb",
    "jackcess/V2007/compIndexTestV2007.accdb",
    "jackcess/V2007/delColTestV2007.accdb",
    "jackcess/V2010/binIdxTestV2010.accdb",
]
SKIP_TYPES = {"bigint", "datetimeext", "complex", "ole", "unknown"}
DATEFMT = "%Y-%m-%dT%H:%M:%S"


def norm(t, v):
    """Canonical, lenient form of a cell from either reader (None for null/empty)."""
    if v is None or v == "":
        return None
    if t == "boolean":
        return str(v).lower() in ("1", "true")
    if t in ("byte", "integer", "long"):
        return int(v)
    if t in ("float", "double"):
        x = float(v)
        if math.isnan(x):
            return "nan"
        return float("%.6g" % x) if t == "float" else float("%.13g" % x)
    if t in ("currency", "numeric"):
        return float("%.13g" % float(v))
    if t == "datetime":
        s = str(v)
        try:
            d = dt.datetime.fromisoformat(s.split(".")[0])
            frac = float("0." + s.split(".")[1]) if "." in s else 0.0
            return (d + dt.timedelta(seconds=round(frac))).isoformat()
        except ValueError:
            return s
    if t == "binary":
        s = str(v).lower()
        i = 0
        while i + 2 <= len(s) and s[i:i + 2] != "00":
            i += 2
        return s[:i] or None
    if t == "guid":
        return str(v).upper().strip("{}")
    return str(v)


def main():
    jet_dump, fixtures = sys.argv[1], sys.argv[2]
    if not shutil.which("mdb-export"):
        print("mdb-export not installed: skipped")
        return 77
    failures = 0
    compared = 0
    for f in FILES + sys.argv[3:]:
        path = f if f.startswith("/") else fixtures + "/files/" + f
        ours = json.loads(subprocess.run([jet_dump, path], check=True, capture_output=True).stdout.decode("utf-8"))
        for table in ours["tables"]:
            cols = table["columns"]
            r = subprocess.run(["mdb-export", "-D", DATEFMT, "-T", DATEFMT, "-b", "hex", path, table["name"]],
                               capture_output=True)
            if r.returncode != 0:
                print("FAIL %s %s: mdb-export failed: %s" % (f, table["name"], r.stderr.decode(errors="replace")))
                failures += 1
                continue
            text = r.stdout.decode("utf-8", "replace")
            rows = list(csv.reader(io.StringIO(text)))
            header, body = rows[0], rows[1:]
            names = [c["name"] for c in cols]
            if header != names:
                print("FAIL %s %s: header %r vs %r" % (f, table["name"], header, names))
                failures += 1
                continue
            keep = [i for i, c in enumerate(cols) if c["type"] not in SKIP_TYPES]
            theirs = sorted((json.dumps([norm(cols[i]["type"], row[i]) for i in keep], sort_keys=True)
                             for row in body))
            mine = sorted((json.dumps([norm(cols[i]["type"], row[i]) for i in keep], sort_keys=True)
                           for row in table["rows"]))
            compared += len(mine)
            if theirs != mine:
                failures += 1
                a = [x for x in mine if x not in theirs][:3]
                b = [x for x in theirs if x not in mine][:3]
                print("FAIL %s %s: %d vs %d rows; only jet: %s; only mdbtools: %s" %
                      (f, table["name"], len(mine), len(theirs), a, b))
    print("%d rows compared with mdb-export, %d table(s) differ" % (compared, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
