#!/usr/bin/env bash
# Line coverage of the system's own folders from every test and every checked-in fuzz corpus:
# a clang build with source-based coverage in build/coverage, the tests run once, the corpora
# replayed, then one line per folder: the tests alone, the corpora alone and both together (and
# the per-file report of both in build/coverage/report.txt).
# Not part of CI: it is a measurement.
#
#   scripts/coverage.sh [--before REV]
#
#   --before REV  also replays the corpora as they stood at REV, in the same build, and prints
#                 that column beside today's corpora, to show what fuzzing campaigns added
set -euo pipefail
cd "$(dirname "$0")/.."

before=""
if [ "${1-}" = --before ] && [ -n "${2-}" ]; then
  before="$(git rev-parse --verify "$2^{commit}")"
elif [ $# -gt 0 ]; then
  echo "usage: scripts/coverage.sh [--before REV]" >&2
  exit 2
fi

dir=build/coverage
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKWZ_COVERAGE=ON -DKWZ_FUZZ=ON -DKWZ_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
cmake --build "$dir" -j "$(nproc)" --target kwz_fuzzers

profiles="$PWD/$dir/profiles"
rm -rf "$profiles"
mkdir -p "$profiles/tests"
export LLVM_PROFILE_FILE="$profiles/tests/%p-%m.profraw"
# A failing test still counts its lines; the verdicts belong to scripts/test.sh.
ctest --test-dir "$dir" -j "$(nproc)" >"$dir/ctest.log" 2>&1 ||
  echo "coverage: some tests failed in the clang build (see $dir/ctest.log)" >&2
export KWZ_GDI_BACKEND=headless ProgramData="$PWD/$dir/programdata" XDG_DATA_HOME="$PWD/$dir/programdata"
mkdir -p "$ProgramData"

# replay NAME CORPORA: every corpus folder under CORPORA through its target, profiles in NAME.
replay() {
  local name="$1" corpora="$2" corpus target
  mkdir -p "$profiles/$name"
  for corpus in "$corpora"/*/; do
    target="$(basename "$corpus")"
    if [ ! -x "$dir/fuzz/$target" ]; then
      echo "coverage: no fuzz target for the corpus $corpus" >&2
      exit 1
    fi
    LLVM_PROFILE_FILE="$profiles/$name/%p-%m.profraw" "$dir/fuzz/$target" -runs=0 "$corpus" \
      >"$dir/$name-$target.log" 2>&1 ||
      echo "coverage: $target failed on its corpus (see $dir/$name-$target.log)" >&2
  done
}
replay corpus fuzz/corpus
if [ -n "$before" ]; then
  old="$dir/corpus-before"
  rm -rf "$old"
  mkdir -p "$old"
  git archive "$before" fuzz/corpus | tar -x -C "$old" --strip-components=2
  # A target that had no corpus then is left out of that column rather than failing it.
  for corpus in "$old"/*/; do [ -x "$dir/fuzz/$(basename "$corpus")" ] || rm -rf "$corpus"; done
  replay before "$old"
fi

objects=()
while IFS= read -r f; do objects+=(-object "$f"); done < <(
  find "$dir" -type f \( -name '*_tests' -o -name '*_fuzzer' -o -name '*.so' -o -name 'kwz-*' \) \
    -perm -u+x)
# folders NAME PROFILE-SETS...: one line per folder, lines covered of lines instrumented.
folders() {
  local name="$1" set raws=()
  shift
  for set in "$@"; do raws+=("$profiles/$set"/*.profraw); done
  llvm-profdata merge -sparse "${raws[@]}" -o "$dir/$name.profdata"
  llvm-cov report -instr-profile "$dir/$name.profdata" "${objects[@]}" \
    -ignore-filename-regex='(^/usr/|/tests/|/fuzz/|/bench/)' >"$dir/report-$name.txt"
  awk -v root="$PWD/" '
    $1 ~ /\.(cpp|h)$/ && NF >= 10 {
      file = $1; sub(root, "", file); sub(/^(.*\/)?\.\.\/\.\.\//, "", file); n = split(file, part, "/")
      folder = (n > 2 && part[1] == "platform") ? part[1] "/" part[2] : part[1]
      lines[folder] += $8; missed[folder] += $9
    }
    END { for (f in lines) printf "%s %d %d\n", f, lines[f] - missed[f], lines[f] }
  ' "$dir/report-$name.txt" | sort >"$dir/folders-$name.txt"
}
folders tests tests
folders corpus corpus
folders all tests corpus
cp "$dir/report-all.txt" "$dir/report.txt"
columns=(tests corpus all)
[ -z "$before" ] || { folders before before; columns=(tests before corpus all); }

# The table: per folder, the percentage of lines covered by each column's profiles.
printf "%-16s %8s" folder lines
tables=()
for c in "${columns[@]}"; do
  case "$c" in
    tests) printf " %12s" "tests" ;;
    before) printf " %12s" "corpora@${before:0:7}" ;;
    corpus) printf " %12s" "corpora" ;;
    all) printf " %12s" "both" ;;
  esac
  tables+=("$dir/folders-$c.txt")
done
printf "\n"
awk '
  { total[$1] = $3; cov[$1, FILENAME] = $2; if (!(FILENAME in seen)) { seen[FILENAME] = ++nf; files[nf] = FILENAME } }
  END {
    for (k in total) {
      line = sprintf("%-16s %8d", k, total[k])
      for (i = 1; i <= nf; i++) line = line sprintf(" %11.1f%%", 100 * cov[k, files[i]] / total[k])
      print line
    }
  }
' "${tables[@]}" | sort
