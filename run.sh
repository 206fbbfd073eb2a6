#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts kesta with the given options.
set -euo pipefail
cd "$(dirname "$0")"
. ./scripts_common.sh
kesta_install_missing
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKESTA_TESTS=OFF >/dev/null
cmake --build build -j "$(kesta_jobs)"
exec build/app/program/kesta "$@"
