# Sourced by scripts that need a throwaway PostgreSQL cluster for one run
# (scripts/pg-cluster.sh). pg_session_start [PREFIX] starts one and sets
# pg_url and pg_dir; pg_session_stop removes it, as does the script's exit
# or interruption.
_pg_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
pg_dir=""
pg_url=""

pg_session_stop() {
    if [[ -n $pg_dir ]]; then
        "$_pg_scripts/pg-cluster.sh" stop "$pg_dir" || true
        pg_dir=""
        pg_url=""
    fi
}

pg_session_start() {
    pg_dir=$(mktemp -d "/tmp/${1:-qelpg}.XXXXXX") || return 1
    if ! pg_url=$("$_pg_scripts/pg-cluster.sh" start "$pg_dir"); then
        echo "错误：无法启动测试用的 PostgreSQL 服务器 / could not start the throwaway server" >&2
        pg_session_stop
        return 1
    fi
}

trap pg_session_stop EXIT
trap 'pg_session_stop; exit 130' INT
trap 'pg_session_stop; exit 143' TERM
