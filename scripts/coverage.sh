#!/usr/bin/env bash
# Line coverage of the system's own folders from every test and every checked-in fuzz corpus:
# a clang build with source-based coverage in build/coverage, the tests run once, the corpora
# replayed, then one line per folder (and the per-file report in build/coverage/report.txt).
# Not part of CI: it is a measurement.
set -euo pipefail
cd "$(dirname "$0")/.."

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
mkdir -p "$profiles"
export LLVM_PROFILE_FILE="$profiles/%p-%m.profraw"
# A failing test still counts its lines; the verdicts belong to scripts/test.sh.
ctest --test-dir "$dir" -j "$(nproc)" >"$dir/ctest.log" 2>&1 ||
  echo "coverage: some tests failed in the clang build (see $dir/ctest.log)" >&2
export KWZ_GDI_BACKEND=headless ProgramData="$PWD/$dir/programdata" XDG_DATA_HOME="$PWD/$dir/programdata"
mkdir -p "$ProgramData"
for corpus in fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  if [ ! -x "$dir/fuzz/$target" ]; then
    echo "coverage: no fuzz target for the corpus $corpus" >&2
    exit 1
  fi
  "$dir/fuzz/$target" -runs=0 "$corpus" >"$dir/$target.log" 2>&1 ||
    echo "coverage: $target failed on its corpus (see $dir/$target.log)" >&2
done

llvm-profdata merge -sparse "$profiles"/*.profraw -o "$dir/merged.profdata"
objects=()
while IFS= read -r f; do objects+=(-object "$f"); done < <(
  find "$dir" -type f \( -name '*_tests' -o -name '*_fuzzer' -o -name '*.so' -o -name 'kwz-*' \) \
    -perm -u+x)
llvm-cov report -instr-profile "$dir/merged.profdata" "${objects[@]}" \
  -ignore-filename-regex='(^/usr/|/tests/|/fuzz/|/bench/)' >"$dir/report.txt"
# One line per folder: lines covered of lines instrumented.
awk -v root="$PWD/" '
  $1 ~ /\.(cpp|h)$/ && NF >= 10 {
    file = $1; sub(root, "", file); sub(/^.*\/\.\.\/\.\.\//, "", file); n = split(file, part, "/")
    folder = (n > 2 && part[1] == "platform") ? part[1] "/" part[2] : part[1]
    lines[folder] += $8; missed[folder] += $9
  }
  END { for (f in lines) printf "%-16s %6d of %6d lines  %5.1f%%\n", f, lines[f] - missed[f], lines[f], 100 * (lines[f] - missed[f]) / lines[f] }
' "$dir/report.txt" | sort
