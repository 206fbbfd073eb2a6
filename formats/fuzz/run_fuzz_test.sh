#!/bin/sh
# run_fuzz.sh over a small source tree where one library source does not
# compile: the harnesses would still link without it, and the run must fail
# all the same. Skips when clang++ is missing.
# Usage: run_fuzz_test.sh <run_fuzz.sh> <work-dir>
set -eu
script=$1
work=$2
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: skipped"
  exit 0
fi
rm -rf "$work"
src="$work/src"
for d in core numeric formats graphics/device graphics/system; do
  mkdir -p "$src/$d"
  echo "int compiles_$(echo "$d" | tr / _)() { return 0; }" >"$src/$d/compiles.cpp"
done
echo "this is not C++" >"$src/numeric/broken.cpp"
mkdir -p "$src/formats/fuzz"
for h in fuzz_item_reader fuzz_packed fuzz_readers fuzz_detectors; do
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$src/formats/fuzz/$h.cpp"
done
for m in make_seeds make_reader_seeds; do
  echo 'int main() { return 0; }' >"$src/formats/fuzz/$m.cpp"
done
if "$script" "$src" "$work/out" 10 >"$work/log" 2>&1; then
  echo "a source that does not compile was reported as success:"
  cat "$work/log"
  exit 1
fi
if ! grep -q "did not compile" "$work/log"; then
  cat "$work/log"
  exit 1
fi
echo "a source that does not compile fails the run"
