#!/usr/bin/env bash
# Sets everything up and runs the whole test suite twice: a normal build and a build
# with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export TZ=UTC

bash scripts/setup.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j "$(nproc)")

bash scripts/setup.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DKELVARA_SANITIZE=ON
(cd build-asan && ctest --output-on-failure -j "$(nproc)")
