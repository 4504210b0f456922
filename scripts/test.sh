#!/usr/bin/env bash
# Builds, then runs the whole test suite twice: on SQLite files, then on a
# throwaway PostgreSQL cluster; then a short fuzzing run (QEL_FUZZ_SECONDS per
# target, default 10; 0 skips it). Extra arguments go to ctest (e.g. -R Pipe)
# and skip the fuzzing. Exits non-zero when any pass fails, after running all.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh || exit $?

ctest_args=(--test-dir build --output-on-failure -j2 --no-tests=error "$@")

source "$root/scripts/pg-session.sh"

echo "===== 第一遍：SQLite / pass 1: SQLite ====="
env -u QEL_DATABASE ctest "${ctest_args[@]}"
sqlite_rc=$?

echo "===== 第二遍：PostgreSQL / pass 2: PostgreSQL ====="
if pg_session_start; then
    echo "PostgreSQL: $pg_url"
    QEL_DATABASE=$pg_url ctest "${ctest_args[@]}"
    pg_rc=$?
else
    pg_rc=1
fi
pg_session_stop

fuzz_rc=0
fuzz_seconds=${QEL_FUZZ_SECONDS:-10}
if (($# == 0)) && [[ $fuzz_seconds != 0 ]]; then
    echo "===== 第三遍：模糊测试 / pass 3: fuzzing (${fuzz_seconds} s per target) ====="
    fuzz/run "$fuzz_seconds"
    fuzz_rc=$?
fi

if ((sqlite_rc != 0)); then
    echo "SQLite 一遍失败 / the SQLite pass failed (ctest exit code $sqlite_rc)" >&2
fi
if ((pg_rc != 0)); then
    echo "PostgreSQL 一遍失败 / the PostgreSQL pass failed (exit code $pg_rc)" >&2
fi
if ((fuzz_rc != 0)); then
    echo "模糊测试失败 / fuzzing failed (exit code $fuzz_rc)" >&2
fi
((sqlite_rc == 0 && pg_rc == 0 && fuzz_rc == 0))
