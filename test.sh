#!/usr/bin/env bash
# Installs what is missing, builds the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, starts an X server for the window tests and runs
# the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
. ./scripts_common.sh
kesta_install_missing
# Line tables only (-g1): the sanitizers' reports still name file and line, and
# the build needs half the disk that full debug information takes.
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DKESTA_SANITIZE=ON -DKESTA_TESTS=ON \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" >/dev/null
cmake --build build-test -j "$(kesta_jobs)"

# A private X server on a free display number, stopped when the tests end.
display=""
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then display=$n; break; fi
done
xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT
if [ -n "$display" ] && command -v Xvfb >/dev/null; then
  Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${display}" ] && break; sleep 0.1; done
  export DISPLAY=":$display"
  export KESTA_XVFB_DISPLAY=":$display"
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
cd build-test
ctest --output-on-failure -j "$(kesta_jobs)" "$@"
