#!/usr/bin/env bash
# Builds, then runs the whole test suite twice: on SQLite files, then on a
# throwaway PostgreSQL cluster. Extra arguments go to ctest (e.g. -R Pipe).
# Exits non-zero when either pass fails, after running both.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh || exit $?

ctest_args=(--test-dir build --output-on-failure -j2 --timeout 300 "$@")

pgdir=""
cleanup() {
    if [[ -n $pgdir ]]; then
        "$root/scripts/pg-cluster.sh" stop "$pgdir"
        pgdir=""
    fi
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

echo "===== 第一遍：SQLite / pass 1: SQLite ====="
env -u QEL_DATABASE ctest "${ctest_args[@]}"
sqlite_rc=$?

echo "===== 第二遍：PostgreSQL / pass 2: PostgreSQL ====="
pgdir=$(mktemp -d /tmp/qelpg.XXXXXX)
if url=$("$root/scripts/pg-cluster.sh" start "$pgdir"); then
    echo "PostgreSQL: $url"
    QEL_DATABASE=$url ctest "${ctest_args[@]}"
    pg_rc=$?
else
    echo "错误：无法启动测试用的 PostgreSQL 服务器 / could not start the test server" >&2
    pg_rc=1
fi
cleanup

if ((sqlite_rc != 0)); then
    echo "SQLite 一遍失败 / the SQLite pass failed (ctest exit code $sqlite_rc)" >&2
fi
if ((pg_rc != 0)); then
    echo "PostgreSQL 一遍失败 / the PostgreSQL pass failed (exit code $pg_rc)" >&2
fi
((sqlite_rc == 0 && pg_rc == 0))
