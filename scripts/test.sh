#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   scripts/test.sh                      normal build
#   scripts/test.sh --sanitize address   AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh --sanitize thread    ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=$(scripts/build.sh "$@" | tail -n 1)
export QT_QPA_PLATFORM=offscreen
here=$(pwd)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$here/.ci/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$here/.ci/ubsan.supp"
# die_after_fork=0: once a test has started a child process (an alarm
# command) from this many-threaded program, the sanitizer ends the program
# at its next new thread, taking it for a forked child's. Our children only
# exec; the check guards against children that go on running threads.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:die_after_fork=0:suppressions=$here/.ci/tsan.supp"
# The test preset of the same name as the tree (build/ is "default").
preset=${dir#build-}; [ "$dir" = build ] && preset=default
ctest --preset "$preset" --output-on-failure -j 2 --timeout 900
