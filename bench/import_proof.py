#!/usr/bin/env python3
"""bench/import_proof.py: the proof that a change to the import changed nothing it writes.

Imports every real cell and exchange set under the shared data folder with two builds of `tarvo`
(a baseline, usually main, and the build under test), one after the other in the same scratch
folder so that paths in the output are alike, and compares: the exit status, every byte of
standard output and standard error (with --verbose, so the trace lines too), every byte of the run
log written beside the input, and every table of the geodatabase (schema, rows in rowid order,
every value with its type, blobs byte for byte). The only values set aside are the timestamps a
GeoPackage keeps of when a table last changed.

Cases: each base cell on its own (its updates beside it), each exchange set through its CATALOG.031,
every S-58 set into one geodatabase one after the other (imports into an existing geodatabase), and
the S-101 file that must be refused.

usage: bench/import_proof.py BASELINE_BUILD NEW_BUILD [--data DIR] [--keep DIR]
  a build folder holds bin/tarvo and lib/ (a CMake build folder of this project does).
Exit status 0 when everything is the same, 1 when anything differs (each difference is printed).
"""

import argparse
import hashlib
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile

STAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z$")


def link_tree(src, dst):
    """Links every file under src into dst (folders made), so the log goes into dst."""
    for root, _dirs, files in os.walk(src):
        rel = os.path.relpath(root, src)
        target = os.path.join(dst, rel) if rel != "." else dst
        os.makedirs(target, exist_ok=True)
        for f in files:
            os.symlink(os.path.join(root, f), os.path.join(target, f))


def cases(data):
    """(name, source folder to link, [inputs relative to it]) of every case."""
    out = []
    enc = os.path.join(data, "enc")
    if os.path.isdir(enc):
        for cell in sorted(os.listdir(enc)):
            d = os.path.join(enc, cell)
            for f in sorted(os.listdir(d)):
                if f.endswith(".000"):
                    out.append(("enc/" + cell, d, [f]))
    roots = []
    s58 = os.path.join(data, "s58")
    if os.path.isdir(s58):
        for root, dirs, _files in os.walk(s58):
            if os.path.basename(root) == "ENC_ROOT":
                roots.append(root)
                dirs[:] = []
        roots.sort()
    set_inputs = []
    for root in roots:
        name = os.path.relpath(root, s58)
        for dirpath, _dirs, files in os.walk(root):
            for f in sorted(files):
                if f.endswith(".000"):
                    rel = os.path.relpath(os.path.join(dirpath, f), root)
                    out.append(("s58/" + name + "/" + rel, root, [rel]))
        if os.path.exists(os.path.join(root, "CATALOG.031")):
            out.append(("s58/" + name + "/CATALOG.031", root, ["CATALOG.031"]))
            set_inputs.append((name, "CATALOG.031"))
        else:
            base = sorted(f for f in os.listdir(root) if f.endswith(".000"))
            if base:
                set_inputs.append((name, base[0]))
    if set_inputs:
        out.append(("s58 sets into one geodatabase", s58,
                    [os.path.join(n, f) for n, f in set_inputs]))
    neg = os.path.join(data, "negative")
    if os.path.isdir(neg):
        for f in sorted(os.listdir(neg)):
            out.append(("negative/" + f, neg, [f]))
    return out


def run_case(build, src, inputs, work):
    """Runs the imports of one case in `work`; what they printed and wrote."""
    if os.path.exists(work):
        shutil.rmtree(work)
    os.makedirs(work)
    link_tree(src, work)
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = os.path.join(build, "lib")
    gdb = os.path.join(work, "out.gpkg")
    runs = []
    for inp in inputs:
        p = subprocess.run([os.path.join(build, "bin", "tarvo"), "--verbose", "import", inp, gdb],
                           cwd=work, env=env, stdin=subprocess.DEVNULL, capture_output=True)
        runs.append((p.returncode, p.stdout, p.stderr))
    logs = {}
    for root, _dirs, files in os.walk(work):
        for f in files:
            path = os.path.join(root, f)
            if not os.path.islink(path) and f != "out.gpkg":
                with open(path, "rb") as fh:
                    logs[os.path.relpath(path, work)] = fh.read()
    tables = dump(gdb) if os.path.exists(gdb) else None
    return runs, logs, tables


def norm(v):
    if isinstance(v, str) and STAMP.match(v):
        return "<timestamp>"
    return (type(v).__name__, v)


def dump(gdb):
    """{table: (sql, [rows])} of every table of the file, rows in rowid order."""
    con = sqlite3.connect("file:" + gdb + "?mode=ro", uri=True)
    con.text_factory = lambda b: b.decode("utf-8", "surrogateescape")  # exact, and blobs stay bytes
    out = {}
    for name, sql, without in con.execute(
            "SELECT name, sql, sql LIKE '%WITHOUT ROWID%' FROM sqlite_master WHERE type='table' ORDER BY name"):
        q = '"' + name.replace('"', '""') + '"'
        if without:
            rows = sorted(con.execute("SELECT * FROM " + q).fetchall(), key=repr)
        else:
            try:
                rows = con.execute("SELECT rowid, * FROM " + q + " ORDER BY rowid").fetchall()
            except sqlite3.OperationalError:
                rows = con.execute("SELECT * FROM " + q).fetchall()
        rows = [tuple(norm(v) for v in r) for r in rows]
        out[name] = (sql, rows)
    idx = sorted(con.execute("SELECT type, name, tbl_name, sql FROM sqlite_master WHERE type != 'table'").fetchall(),
                 key=repr)
    out["<sqlite_master other>"] = (None, idx)
    con.close()
    return out


def digest(b):
    return hashlib.sha256(b).hexdigest()[:16]


def compare(name, a, b):
    diffs = []
    runs_a, logs_a, tab_a = a
    runs_b, logs_b, tab_b = b
    for i, (ra, rb) in enumerate(zip(runs_a, runs_b)):
        for what, x, y in (("exit status", ra[0], rb[0]), ("stdout", ra[1], rb[1]), ("stderr", ra[2], rb[2])):
            if x != y:
                diffs.append("run %d %s differs%s" % (i, what, "" if what == "exit status" else
                                                       " (%d vs %d bytes)" % (len(x), len(y))))
    if set(logs_a) != set(logs_b):
        diffs.append("files written differ: %s vs %s" % (sorted(logs_a), sorted(logs_b)))
    for f in sorted(set(logs_a) & set(logs_b)):
        if logs_a[f] != logs_b[f]:
            diffs.append("%s differs (%d vs %d bytes)" % (f, len(logs_a[f]), len(logs_b[f])))
    if (tab_a is None) != (tab_b is None):
        diffs.append("geodatabase made by one build only")
    elif tab_a is not None:
        if set(tab_a) != set(tab_b):
            diffs.append("tables differ: only baseline %s, only new %s" %
                         (sorted(set(tab_a) - set(tab_b)), sorted(set(tab_b) - set(tab_a))))
        for t in sorted(set(tab_a) & set(tab_b)):
            sa, ra = tab_a[t]
            sb, rb = tab_b[t]
            if sa != sb:
                diffs.append("table %s: schema differs" % t)
            if ra != rb:
                first = next((i for i, (x, y) in enumerate(zip(ra, rb)) if x != y), min(len(ra), len(rb)))
                diffs.append("table %s: rows differ (%d vs %d rows, first at %d: %r vs %r)" %
                             (t, len(ra), len(rb), first, ra[first] if first < len(ra) else None,
                              rb[first] if first < len(rb) else None))
    nrows = sum(len(r) for _s, r in tab_a.values()) if tab_a else 0
    nlog = sum(len(v) for v in logs_a.values()) + sum(len(r[1]) + len(r[2]) for r in runs_a)
    return diffs, nrows, nlog


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("baseline")
    ap.add_argument("new")
    here = os.path.dirname(os.path.abspath(__file__))
    ap.add_argument("--data", default=os.path.normpath(os.path.join(here, "..", "..", "shared", "data")))
    ap.add_argument("--keep", help="folder to keep both builds' outputs in")
    args = ap.parse_args()
    args.baseline, args.new = os.path.abspath(args.baseline), os.path.abspath(args.new)
    for b in (args.baseline, args.new):
        if not os.access(os.path.join(b, "bin", "tarvo"), os.X_OK):
            sys.exit("no %s/bin/tarvo" % b)
    all_cases = cases(args.data)
    if not all_cases:
        sys.exit("no real data under %s" % args.data)
    scratch = tempfile.mkdtemp(prefix="import_proof_")
    work = os.path.join(scratch, "work")
    bad = 0
    total_rows = total_bytes = 0
    for name, src, inputs in all_cases:
        outs = []
        for label, build in (("baseline", args.baseline), ("new", args.new)):
            outs.append(run_case(build, src, inputs, work))
            if args.keep:
                dst = os.path.join(args.keep, label, name.replace("/", "_").replace(" ", "_"))
                shutil.rmtree(dst, ignore_errors=True)
                shutil.copytree(work, dst, symlinks=True)
        diffs, nrows, nbytes = compare(name, outs[0], outs[1])
        total_rows += nrows
        total_bytes += nbytes
        status = "same" if not diffs else "DIFFERENT"
        print("%-48s %-9s exit %s, %d rows, %d log/output bytes" %
              (name, status, ",".join(str(r[0]) for r in outs[0][0]), nrows, nbytes))
        for d in diffs:
            print("    " + d)
        bad += bool(diffs)
    shutil.rmtree(scratch, ignore_errors=True)
    print("%d cases, %d differ; %d rows and %d log/output bytes compared" %
          (len(all_cases), bad, total_rows, total_bytes))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
