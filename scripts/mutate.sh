#!/usr/bin/env bash
# Fault injection: checks that the tests catch the faults listed in scripts/mutations.txt.
# For each fault in turn it puts the fault into its file, rebuilds, runs the tests named for
# it and puts the file back, then prints a table and exits 1 if any fault went uncaught.
#   scripts/mutate.sh [--only ID[,ID...]] [--list] [--build DIR] [--all-tests]
# DIR (default build/release, made by scripts/build.sh) must be configured already.
# --all-tests runs the whole suite for each fault instead of its own tests: for telling a
# fault that no test catches from one whose list names the wrong tests.
set -euo pipefail
cd "$(dirname "$0")/.."

list="scripts/mutations.txt"
build="build/release"
only=""
show=0
all=0
timeout=120  # per test: a fault that hangs a test counts as caught
while [ $# -gt 0 ]; do
  case "$1" in
    --only) only="${2:?--only needs ids}"; shift 2 ;;
    --list) show=1; shift ;;
    --build) build="${2:?--build needs a directory}"; shift 2 ;;
    --all-tests) all=1; shift ;;
    *) echo "usage: $0 [--only ID[,ID...]] [--list] [--build DIR] [--all-tests]" >&2; exit 2 ;;
  esac
done

# The records, one field array each: ids[i], whats[i], files[i], froms[i], tos[i], tests[i].
ids=() whats=() files=() froms=() tos=() tests=()
declare -A record=()
flush() {
  [ ${#record[@]} -eq 0 ] && return
  for key in id what file from to tests; do
    [ -n "${record[$key]+x}" ] || { echo "$list: record ${record[id]:-?} has no $key" >&2; exit 2; }
  done
  ids+=("${record[id]}") whats+=("${record[what]}") files+=("${record[file]}")
  froms+=("${record[from]}") tos+=("${record[to]}") tests+=("${record[tests]}")
  record=()
}
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    '#'*) ;;
    '') flush ;;
    *': '*) record[${line%%: *}]="${line#*: }" ;;
    *) echo "$list: cannot read '$line'" >&2; exit 2 ;;
  esac
done <"$list"
flush

wanted() { [ -z "$only" ] || [[ ",$only," == *",$1,"* ]]; }
if [ -n "$only" ]; then
  for id in ${only//,/ }; do
    [[ " ${ids[*]} " == *" $id "* ]] || { echo "no fault named $id" >&2; exit 2; }
  done
fi
if [ "$show" -eq 1 ]; then
  for i in "${!ids[@]}"; do
    wanted "${ids[$i]}" && printf '%-20s %-36s %s\n' "${ids[$i]}" "${files[$i]}" "${whats[$i]}"
  done
  exit 0
fi
[ -f "$build/build.ninja" ] || { echo "$build is not a configured build (scripts/build.sh)" >&2; exit 2; }

before="$(git status --porcelain)"
saved="$(mktemp -d)"
logs="$build/mutate"
mkdir -p "$logs"
current=""  # the file holding a fault right now
restore() {
  # Rewritten rather than moved back, so its time is new and the next build recompiles it.
  if [ -n "$current" ]; then cat "$saved/original" >"$current"; current=""; fi
}
trap 'restore; rm -rf "$saved"' EXIT
trap 'exit 130' INT TERM

# Puts fault i into its file; fails unless the original text occurs exactly once.
apply() {
  local file="${files[$1]}" from="${froms[$1]}" text rest
  [ -n "$from" ] && [ -f "$file" ] || { echo "${ids[$1]}: no text or no file $file" >&2; return 1; }
  text="$(cat "$file"; printf x)"
  text="${text%x}"
  rest="${text//"$from"/}"
  if [ $(( (${#text} - ${#rest}) / ${#from} )) -ne 1 ]; then
    echo "${ids[$1]}: the original text does not occur exactly once in $file" >&2
    return 1
  fi
  cp "$file" "$saved/original"
  current="$file"
  printf '%s' "${text/"$from"/"${tos[$1]}"}" >"$file"
}

# The same cache settings as scripts/build.sh, so a worktree's rebuilds hit objects that another
# checkout of the tree compiled.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
rows=() failed=0
for i in "${!ids[@]}"; do
  wanted "${ids[$i]}" || continue
  id="${ids[$i]}"
  regex="${tests[$i]}"
  [ "$all" -eq 0 ] || regex="."
  start=$SECONDS
  echo "== $id: ${whats[$i]}" >&2
  if ! apply "$i"; then
    outcome="bad record"
  elif ! cmake --build "$build" -j 2 >"$logs/$id.build.log" 2>&1; then
    outcome="not applicable (build failed)"
  elif ctest --test-dir "$build" -R "$regex" --timeout "$timeout" --stop-on-failure \
      --no-tests=error -j 2 >"$logs/$id.test.log" 2>&1; then
    outcome="NOT CAUGHT"
  elif grep -q 'No tests were found' "$logs/$id.test.log"; then
    outcome="no tests match"
  else
    outcome="caught"
  fi
  restore
  [ "$outcome" = caught ] || failed=1
  rows+=("$(printf '%-20s %-64s %-30s %5ds' "$id" "${whats[$i]}" "$outcome" $((SECONDS - start)))")
done

echo "== rebuilding the clean tree" >&2
cmake --build "$build" -j 2 >"$logs/clean.build.log" 2>&1 || { echo "clean rebuild failed" >&2; failed=1; }
printf '%-20s %-64s %-30s %6s\n' id fault outcome time
printf '%s\n' "${rows[@]}"
if [ "$(git status --porcelain)" != "$before" ]; then
  echo "the working tree changed during the run" >&2
  failed=1
fi
exit "$failed"
