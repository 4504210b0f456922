#!/usr/bin/env bash
# Reliability checks beyond the ordinary test run (scripts/test.sh), which
# already runs the fault, hostile-input, stress and crash tests on both engines:
#   1. a short fuzzing run of the host's small formats (fuzz/run, clang);
#   2. the whole test suite built with AddressSanitizer and UBSan
#      (build-asan/, QEL_SANITIZE=ON), on SQLite and on a throwaway
#      PostgreSQL cluster (scripts/pg-cluster.sh);
#   3. the suites that run the catalogue search's worker thread and the grids
#      built with ThreadSanitizer (build-tsan/, QEL_SANITIZE=thread), on SQLite.
# Installs what it needs when run as root. Prints a summary; exits non-zero
# when any part fails (after running all).
#   scripts/reliability.sh [FUZZ_SECONDS]     seconds per fuzz target (default 20;
#                                             0 skips it, as CI does after scripts/test.sh)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
fuzz_seconds=${1:-20}

# The build's packages, clang and its runtime (libFuzzer, sanitizers) among
# them, installed when run as root; build/ is quick when current.
scripts/setup.sh || exit $?

started=$(date +%s)

fuzz_rc=0
if [[ $fuzz_seconds == 0 ]]; then
    fuzz_line="skipped"
else
    echo "===== 模糊测试 / fuzzing (${fuzz_seconds} s per target) ====="
    fuzz_out=$(mktemp)
    fuzz/run "$fuzz_seconds" 2>&1 | tee "$fuzz_out"
    fuzz_rc=${PIPESTATUS[0]}
    fuzz_line=$(grep 'fuzzing:' "$fuzz_out" | tail -1)
    rm -f "$fuzz_out"
fi

# Leaks are checked; tests/lsan.supp names the few that belong to Qt and
# the system libraries. UBSan stops at the first finding.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen

# One CTest run of the sanitizer build; sets pass_rc, pass_line, pass_findings.
run_pass() {
    local out
    out=$(mktemp)
    "$@" ctest --test-dir build-asan --output-on-failure -j2 --no-tests=error 2>&1 | tee "$out"
    pass_rc=${PIPESTATUS[0]}
    pass_line=$(grep -E '^[0-9]+% tests passed' "$out" | tail -1)
    pass_findings=$(grep -cE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$out")
    # A report fails the pass even where a test's exit status hid it.
    if ((pass_findings > 0 && pass_rc == 0)); then
        pass_rc=1
    fi
    rm -f "$out"
}

source "$root/scripts/pg-session.sh"

source "$root/scripts/build-lib.sh"
pick_generator build-asan
sqlite_rc=1 pg_rc=1
sqlite_line="not run" pg_line="not run"
sqlite_findings=0 pg_findings=0
echo "===== 地址与未定义行为检查 / AddressSanitizer + UBSan build ====="
# -O1 -g1: the usual optimisation for AddressSanitizer, line tables for its
# reports; half the build time of -O2 -g on two cores.
if cmake -S . -B build-asan "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
    -DQEL_SANITIZE=ON -DQEL_TEST_TIMEOUT=900 >/dev/null &&
    cmake --build build-asan -j"$(nproc)"; then
    echo "===== 地址与未定义行为检查 / AddressSanitizer + UBSan pass: SQLite ====="
    run_pass env -u QEL_DATABASE
    sqlite_rc=$pass_rc sqlite_line=$pass_line sqlite_findings=$pass_findings
    echo "===== 地址与未定义行为检查 / AddressSanitizer + UBSan pass: PostgreSQL ====="
    if pg_session_start; then
        run_pass env QEL_DATABASE="$pg_url"
        pg_rc=$pass_rc pg_line=$pass_line pg_findings=$pass_findings
    else
        pg_line="server did not start"
    fi
    pg_session_stop
else
    echo "错误：带检查器的构建失败 / the sanitizer build failed" >&2
    sqlite_line="build failed" pg_line="build failed"
fi

# Only the programs whose code runs a second thread, and what they share
# with the GUI thread: a ThreadSanitizer build of everything would double
# the time of this script. tests/tsan.supp names what Qt, which is not
# instrumented, does between its own threads. A test that starts a program
# (QProcess) forks a process that already has threads; the child only
# execs, so the parent may go on starting threads (die_after_fork=0).
tsan_options="suppressions=$root/tests/tsan.supp:die_after_fork=0:halt_on_error=0:second_deadlock_stack=1"
tsan_tests=(test_search test_search_dialog test_search_catalogue test_grid_comforts test_dataset)
tsan_rc=1 tsan_line="not run" tsan_findings=0
echo "===== 线程检查 / ThreadSanitizer build: ${tsan_tests[*]} ====="
pick_generator build-tsan
if cmake -S . -B build-tsan "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
    -DQEL_SANITIZE=thread >/dev/null &&
    cmake --build build-tsan -j"$(nproc)" --target "${tsan_tests[@]}"; then
    echo "===== 线程检查 / ThreadSanitizer pass: SQLite ====="
    tsan_out=$(mktemp)
    tsan_rc=0 tsan_passed=0
    for t in "${tsan_tests[@]}"; do
        env -u QEL_DATABASE TSAN_OPTIONS="$tsan_options" "build-tsan/bin/$t" 2>&1 | tee -a "$tsan_out"
        if [[ ${PIPESTATUS[0]} -eq 0 ]]; then
            tsan_passed=$((tsan_passed + 1))
        else
            tsan_rc=1
        fi
    done
    tsan_findings=$(grep -c 'WARNING: ThreadSanitizer' "$tsan_out")
    ((tsan_findings == 0)) || tsan_rc=1
    tsan_line="${tsan_passed} of ${#tsan_tests[@]} programs passed"
    rm -f "$tsan_out"
else
    echo "错误：带线程检查的构建失败 / the ThreadSanitizer build failed" >&2
    tsan_line="build failed"
fi

status() { [[ $1 -eq 0 ]] && echo ok || echo FAILED; }
elapsed=$(($(date +%s) - started))
echo "===== 可靠性检查小结 / reliability summary (${elapsed} s) ====="
echo "fuzzing:                    ${fuzz_line:-no result} -> $(status "$fuzz_rc")"
echo "sanitizer pass, SQLite:     ${sqlite_line:-no result}; sanitizer reports: ${sqlite_findings} -> $(status "$sqlite_rc")"
echo "sanitizer pass, PostgreSQL: ${pg_line:-no result}; sanitizer reports: ${pg_findings} -> $(status "$pg_rc")"
echo "thread sanitizer, SQLite:   ${tsan_line}; sanitizer reports: ${tsan_findings} -> $(status "$tsan_rc")"
((fuzz_rc == 0 && sqlite_rc == 0 && pg_rc == 0 && tsan_rc == 0))
