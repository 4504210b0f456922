#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster in a folder of its own, for tests.
#   pg-cluster.sh start DIR   creates and starts it; prints its URL on stdout
#   pg-cluster.sh stop DIR    stops it and removes DIR
#   pg-cluster.sh halt DIR    stops the server (fast shutdown), keeps DIR
#   pg-cluster.sh resume DIR  starts a halted server again on the same port
#   pg-cluster.sh standby PRIMARY DIR  a synchronous streaming standby of the cluster in PRIMARY; prints its URL
#   pg-cluster.sh promote DIR          makes a standby the primary (waits until it takes writes)
# Listens on 127.0.0.1 only, on a free port, with its own socket folder.
# As root the server runs as the postgres user (it refuses to run as root).
set -euo pipefail

bindir=/usr/lib/postgresql/15/bin

as_owner() {
    if [[ $(id -u) -eq 0 ]]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

port_in_use() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

launch() {
    local dir=$1 port=$2
    # fsync off: the cluster is thrown away, only speed matters.
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir/sock -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=60" \
        start >/dev/null
}

# A folder for a cluster, owned by the server's user.
own_dir() {
    mkdir -p "$1/sock"
    if [[ $(id -u) -eq 0 ]]; then
        chown -R postgres: "$1"
    fi
}

# Starts the server in DIR on a free port, kept in DIR/port.
launch_on_free_port() {
    local dir=$1 attempt port
    for attempt in $(seq 1 20); do
        port=$((20000 + RANDOM % 30000))
        port_in_use "$port" && continue
        if launch "$dir" "$port"; then
            echo "$port" >"$dir/port"
            return 0
        fi
    done
    echo "错误：PostgreSQL 服务器无法启动 / the server did not start:" >&2
    tail -n 20 "$dir/server.log" >&2 || true
    return 1
}

start() {
    local dir=$1
    own_dir "$dir"
    as_owner "$bindir/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C.UTF-8 \
        --no-sync --no-instructions >"$dir/initdb.log" 2>&1 || {
        echo "错误：无法初始化 PostgreSQL 集群 / initdb failed:" >&2
        cat "$dir/initdb.log" >&2
        return 1
    }
    launch_on_free_port "$dir" && echo "postgresql://postgres@127.0.0.1:$(cat "$dir/port")/postgres"
}

stop() {
    local dir=$1
    if [[ -f $dir/data/postmaster.pid ]]; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
}

halt() {
    as_owner "$bindir/pg_ctl" -D "$1/data" -m fast -w -t 60 stop >/dev/null
}

resume() {
    local dir=$1
    launch "$dir" "$(cat "$dir/port")" || {
        echo "错误：PostgreSQL 服务器无法重新启动 / the server did not start again:" >&2
        tail -n 20 "$dir/server.log" >&2 || true
        return 1
    }
}

standby() {
    local primary=$1 dir=$2 attempt
    own_dir "$dir"
    as_owner "$bindir/pg_basebackup" -h 127.0.0.1 -p "$(cat "$primary/port")" -U postgres -D "$dir/data" -R -X stream --no-sync \
        >"$dir/basebackup.log" 2>&1 || {
        echo "错误：无法复制主服务器 / pg_basebackup failed:" >&2
        cat "$dir/basebackup.log" >&2
        return 1
    }
    launch_on_free_port "$dir" || return 1
    # Synchronous: a commit the primary acknowledged is on the standby
    # too. The command line turns synchronous_commit off for speed; the
    # database's own setting outranks it.
    local url="postgresql://postgres@127.0.0.1:$(cat "$primary/port")/postgres"
    "$bindir/psql" -X -q -d "$url" -c "ALTER SYSTEM SET synchronous_standby_names = '*'" -c "SELECT pg_reload_conf()" \
        -c "ALTER DATABASE postgres SET synchronous_commit = on" >/dev/null
    for attempt in $(seq 1 100); do
        [[ $("$bindir/psql" -X -At -d "$url" -c "SELECT count(*) FROM pg_stat_replication WHERE sync_state = 'sync'") == 1 ]] && break
        sleep 0.1
    done
    echo "postgresql://postgres@127.0.0.1:$(cat "$dir/port")/postgres"
}

promote() {
    as_owner "$bindir/pg_ctl" -D "$1/data" -w -t 60 promote >/dev/null
}

case ${1:-} in
    start) start "${2:?folder missing}" ;;
    stop) stop "${2:?folder missing}" ;;
    halt) halt "${2:?folder missing}" ;;
    resume) resume "${2:?folder missing}" ;;
    standby) standby "${2:?primary folder missing}" "${3:?folder missing}" ;;
    promote) promote "${2:?folder missing}" ;;
    *)
        echo "用法 / usage: $0 start|stop|halt|resume DIR | standby PRIMARY DIR | promote DIR" >&2
        exit 2
        ;;
esac
