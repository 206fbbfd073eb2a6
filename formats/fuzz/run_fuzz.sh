#!/bin/sh
# Builds the libFuzzer harnesses of the item reader, the packed decoder, the
# text, raw and described-image readers and codecs (fuzz_readers) and the
# detector readers with clang++ (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each briefly on a corpus of small
# valid files. Skips when clang++ is missing.
# Usage: run_fuzz.sh <source-dir> <work-dir> [runs]
# Each input is written to a file in $TMPDIR (else /tmp); TMPDIR=/dev/shm
# spares the disk and runs many times faster. For a long run of one reader of
# fuzz_readers, KESTA_FUZZ_READER=n (its case number) runs that one alone.
set -eu
src=$1
work=$2
runs=${3:-3000}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: fuzz runs skipped"
  exit 0
fi
mkdir -p "$work"
cxx="clang++ -std=c++20 -g -O1 -I$src -fsanitize=address,undefined -fno-sanitize-recover=undefined"
libs="-lreadline -ltinfo -lm -lX11"
# The formats' graphical roads need the graphics system below them.
lib_sources=$(ls "$src"/core/*.cpp "$src"/numeric/*.cpp "$src"/formats/*.cpp \
  "$src"/graphics/device/*.cpp "$src"/graphics/system/*.cpp | grep -v '_test\.cpp$')

# Rebuild only when a source is newer than the objects.
stamp="$work/.built"
if [ ! -f "$stamp" ] || [ -n "$(find "$src/core" "$src/numeric" "$src/formats" "$src/graphics" -newer "$stamp" -name '*.[ch]pp' | head -1)" ]; then
  mkdir -p "$work/obj"
  # At most four compilers at once; each one's status is waited for (a bare
  # wait would lose it), and any failure fails the run.
  failed=0
  running=""
  for f in $lib_sources; do
    obj="$work/obj/$(basename "$(dirname "$f")")_$(basename "$f" .cpp).o"
    $cxx -fsanitize=fuzzer-no-link -c "$f" -o "$obj" &
    running="$running $!"
    set -- $running
    if [ $# -ge 4 ]; then
      wait "$1" || failed=1
      shift
      running="$*"
    fi
  done
  for pid in $running; do
    wait "$pid" || failed=1
  done
  if [ "$failed" -ne 0 ]; then
    echo "run_fuzz.sh: a library source did not compile" >&2
    exit 1
  fi
  # An archive: each program takes only the objects it needs.
  rm -f "$work/libkesta_fuzz.a"
  ar rcs "$work/libkesta_fuzz.a" "$work"/obj/*.o
  $cxx -fsanitize=fuzzer "$src/formats/fuzz/fuzz_item_reader.cpp" "$work/libkesta_fuzz.a" $libs -o "$work/fuzz_item_reader"
  $cxx -fsanitize=fuzzer "$src/formats/fuzz/fuzz_packed.cpp" "$work/libkesta_fuzz.a" $libs -o "$work/fuzz_packed"
  $cxx -fsanitize=fuzzer "$src/formats/fuzz/fuzz_readers.cpp" "$work/libkesta_fuzz.a" $libs -o "$work/fuzz_readers"
  $cxx -fsanitize=fuzzer "$src/formats/fuzz/fuzz_detectors.cpp" "$work/libkesta_fuzz.a" $libs -o "$work/fuzz_detectors"
  $cxx "$src/formats/fuzz/make_seeds.cpp" "$work/libkesta_fuzz.a" $libs -o "$work/make_seeds"
  $cxx "$src/formats/fuzz/make_reader_seeds.cpp" "$work/libkesta_fuzz.a" $libs -o "$work/make_reader_seeds"
  touch "$stamp"
fi

rm -rf "$work/corpus-items" "$work/corpus-packed" "$work/corpus-readers" "$work/corpus-detectors"
mkdir -p "$work/corpus-items" "$work/corpus-packed" "$work/corpus-readers" "$work/corpus-detectors"
"$work/make_seeds" "$work/corpus-items" "$work/corpus-packed" "$work/corpus-detectors"
"$work/make_reader_seeds" "$work/corpus-readers"

"$work/fuzz_item_reader" -runs="$runs" -max_len=16384 -timeout=10 -seed=1 "$work/corpus-items"
"$work/fuzz_packed" -runs="$runs" -max_len=8192 -timeout=10 -seed=1 "$work/corpus-packed"
"$work/fuzz_readers" -runs="$runs" -max_len=8192 -timeout=10 -seed=1 "$work/corpus-readers"
"$work/fuzz_detectors" -runs="$runs" -max_len=8192 -timeout=10 -seed=1 "$work/corpus-detectors"
echo "fuzz runs passed"
