#!/usr/bin/env bash
# Builds everything with AddressSanitizer + UndefinedBehaviorSanitizer and runs
# the whole test suite against a throw-away MariaDB and IRC server.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

scripts/install.sh

jobs=$(nproc)
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQLM_SANITIZE=ON
cmake --build build-test -j"$jobs"

cleanup() {
  scripts/stop-ngircd.sh || true
  scripts/stop-mariadb.sh || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Each start script prints export lines; a failed start stops the run.
mysql_env=$(scripts/start-mariadb.sh)
eval "$mysql_env"
irc_env=$(scripts/start-ngircd.sh)
eval "$irc_env"

# LeakSanitizer works on these machines (checked), so leaks fail the run too.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:print_stacktrace=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# Every test runs twice in its process, so state one run leaves behind (a
# global, a counter, a file, a port) fails the second.
export GTEST_REPEAT=2
ctest --test-dir build-test --output-on-failure -j"$jobs"
