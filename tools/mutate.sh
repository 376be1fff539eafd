#!/usr/bin/env bash
# Mutation sample: do the tests notice a wrong library?
#
# Applies the small changes listed in tools/mutants.tsv to the library one
# at a time, rebuilds the Linux test program incrementally in build/mutate
# (the linux preset's settings), runs the tests, puts the file back, and
# records which changes the tests do not notice. A change that does not
# build is "not-built": it tells nothing about the tests.
#
#   tools/mutate.sh                 every row of the table
#   tools/mutate.sh --only ID,ID    those rows only
#   tools/mutate.sh --check         only verify the table (fast, no build)
#
# Table rows, tab-separated: id, file, original text, replacement, gtest
# filter (empty: the whole suite), reason. The original text must occur
# exactly once in the file, so that a row cannot silently stop applying when
# the code around it changes. A reason beginning "equivalent:" marks a change
# no test can notice; it is still run, and reported apart.
# Results: one line per row, a summary per folder, and build/mutate/results.tsv
# (a run with --only updates those rows of it and keeps the others).
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
table=tools/mutants.tsv
build_dir=build/mutate
only=""
check_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --check) check_only=1 ;;
    --only) only=$2; shift ;;
    --table) table=$2; shift ;;
    *) echo "usage: $0 [--check] [--only ID,ID...] [--table FILE]" >&2; exit 2 ;;
  esac
  shift
done

# Verifies every row; prints id, file, filter and reason of the rows to run,
# separated by US characters (tabs would merge around an empty filter). With an id, writes that row's mutated file to stdout instead.
table_tool() {
  python3 - "$table" "$@" <<'PY'
import os, sys

table, args = sys.argv[1], sys.argv[2:]
rows, errors, seen = [], [], set()
with open(table, encoding="utf-8") as f:
    for number, line in enumerate(f, 1):
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#"):
            continue
        cols = line.split("\t")
        if len(cols) != 6:
            errors.append(f"{table}:{number}: {len(cols)} columns, not 6")
            continue
        ident, path, original, replacement, filt, reason = cols
        where = f"{table}:{number} ({ident})"
        if ident in seen:
            errors.append(f"{where}: id used twice")
        seen.add(ident)
        if not original or original == replacement:
            errors.append(f"{where}: empty original or replacement equal to it")
        if not reason.strip():
            errors.append(f"{where}: no reason")
        if not os.path.isfile(path):
            errors.append(f"{where}: no file {path}")
            continue
        text = open(path, encoding="utf-8").read()
        count = text.count(original)
        if count != 1:
            errors.append(f"{where}: original text occurs {count} times in {path}")
            continue
        rows.append((ident, path, original, replacement, filt, reason, text))
if errors:
    print("\n".join(errors), file=sys.stderr)
    sys.exit(1)
if args and args[0] == "--apply":
    for ident, path, original, replacement, _, _, text in rows:
        if ident == args[1]:
            sys.stdout.write(text.replace(original, replacement))
            sys.exit(0)
    sys.exit(f"no row {args[1]}")
wanted = set(args[1].split(",")) if args and args[0] == "--only" else None
for ident, path, _, _, filt, reason, _ in rows:
    if wanted is None or ident in wanted:
        print(f"{ident}\x1f{path}\x1f{filt}\x1f{reason}")
if wanted is not None and wanted - seen:
    sys.exit("no rows " + ",".join(sorted(wanted - seen)))
PY
}

listing=$(table_tool ${only:+--only "$only"}) || exit 1
if [ "$check_only" -eq 1 ]; then
  echo "mutants: $(printf '%s\n' "$listing" | grep -c .) rows apply"
  exit 0
fi

mkdir -p "$build_dir"
pending=$build_dir/pending-restore
saved=$build_dir/original-file

# Puts the mutated file back; also mends a run that was killed before it could.
restore() {
  if [ -f "$pending" ]; then
    cp "$saved" "$root/$(cat "$pending")" && rm -f "$pending" "$saved"
  fi
}
restore
trap restore EXIT
trap 'restore; echo; echo "interrupted"; exit 130' INT TERM

build() {
  nice -n 10 cmake --build "$build_dir" -j2 --target felbrin_tests </dev/null >"$build_dir/build.log" 2>&1
}
# Exit status of the tests; the failing test names go to $build_dir/test.log.
# The whole suite takes seconds: a run ten times as long is a hang that the
# change caused, and counts as noticed. The shell's note about a crashed
# test program is kept out of the report.
run_tests() {
  local filter=$1
  { (cd "$build_dir/tests" &&
    nice -n 10 timeout 120 ./felbrin_tests --gtest_brief=1 ${filter:+--gtest_filter="$filter"}) \
    </dev/null >"$build_dir/test.log" 2>&1; } 2>/dev/null
}

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
    -DFELBRIN_BENCH=ON -DFELBRIN_TESTS=ON >/dev/null || exit 1
fi
echo "== building the unchanged library"
build || { tail -n 40 "$build_dir/build.log"; exit 1; }
run_tests "" || { tail -n 40 "$build_dir/test.log"; echo "the unchanged library fails its tests"; exit 1; }

results=$build_dir/results.tsv
run_results=$build_dir/results-this-run.tsv
printf 'id\tfile\tfolder\tresult\tseconds\tfirst failing test\treason\n' >"$run_results"
folder_of() {
  case "$1" in
    instrument/*/* | platform/*/*) echo "$1" | cut -d/ -f1-2 ;;
    *) echo "${1%%/*}" ;;
  esac
}

while IFS=$'\x1f' read -r -u 3 id file filter reason; do
  t0=$SECONDS
  cp "$file" "$saved"
  echo "$file" >"$pending"
  table_tool --apply "$id" >"$build_dir/mutated" && cp "$build_dir/mutated" "$file" || exit 1
  first=""
  if ! build; then
    result=not-built
  elif run_tests "$filter"; then
    result=survived
    case "$reason" in equivalent:*) result=equivalent ;; esac
  else
    result=noticed
    first=$(grep -m1 -oE '\[  FAILED  \] [A-Za-z0-9_/.]+' "$build_dir/test.log" | cut -c14-)
    [ -n "$first" ] || first="(crash or time limit)"
  fi
  restore
  printf '%-6s %-48s %-10s %4d s %s\n' "$id" "$file" "$result" $((SECONDS - t0)) "$first"
  printf '%s\t%s\t%s\t%s\t%d\t%s\t%s\n' "$id" "$file" "$(folder_of "$file")" "$result" \
    $((SECONDS - t0)) "$first" "$reason" >>"$run_results"
done 3<<<"$listing"

echo "== putting the unchanged library back"
build || echo "rebuild of the unchanged library failed: see $build_dir/build.log"

echo
python3 - "$results" "$run_results" "$only" <<'PY'
import collections, csv, os, sys

results, run_results, only = sys.argv[1:4]

def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        reader = csv.reader(f, delimiter="\t")
        return next(reader), {row[0]: row for row in reader}

header, rows = read(run_results)
if only and os.path.exists(results):
    _, kept = read(results)
    kept.update(rows)
    rows = kept
with open(results, "w", encoding="utf-8", newline="") as f:
    writer = csv.writer(f, delimiter="\t", lineterminator="\n")
    writer.writerow(header)
    writer.writerows(rows.values())

kinds = ("noticed", "survived", "equivalent", "not-built")
per = collections.defaultdict(collections.Counter)
survivors = []
for row in (dict(zip(header, r)) for r in rows.values()):
    per[row["folder"]][row["result"]] += 1
    if row["result"] in ("survived", "equivalent"):
        survivors.append(f'  {row["id"]} {row["result"]}: {row["file"]}: {row["reason"]}')

def line(name, c):
    judged = c["noticed"] + c["survived"]
    share = f"{100.0 * c['noticed'] / judged:5.1f} %" if judged else "    - "
    print(f"{name:<26}" + "".join(f"{c[k]:>11}" for k in kinds) + f"   {share}")

print(f'{"folder":<26}' + "".join(f"{k:>11}" for k in kinds) + "   noticed")
total = collections.Counter()
for name in sorted(per):
    line(name, per[name])
    total += per[name]
line("total", total)
if survivors:
    print("not noticed:")
    print("\n".join(survivors))
PY
