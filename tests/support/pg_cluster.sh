#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the store's tests.
#   pg_cluster.sh start <state dir>   initdb in a fresh temporary directory, a
#                                     server on a private unix socket only, a
#                                     UTF-8 database "ruvo_test"; writes the
#                                     connection parameters to <state dir>/pg.env
#   pg_cluster.sh stop <state dir>    stops the server and removes the cluster
#   pg_cluster.sh halt <state dir>    stops the server (clients are cut off), keeps the cluster
#   pg_cluster.sh resume <state dir>  starts the halted server again on the same socket
# The server refuses to run as root: as root, it runs as the "postgres" user.
set -euo pipefail

cmd=${1:?start|stop|halt|resume}
state=${2:?state directory}
mkdir -p "$state"
env_file="$state/pg.env"
dir_file="$state/pg.dir"

bindir=""
for d in /usr/lib/postgresql/*/bin; do
  [ -x "$d/initdb" ] && bindir=$d
done

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop_cluster() {
  [ -f "$dir_file" ] || return 0
  local root
  root=$(cat "$dir_file")
  if [ -n "$bindir" ] && [ -f "$root/data/postmaster.pid" ]; then
    as_owner "$bindir/pg_ctl" -D "$root/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$root"
  rm -f "$dir_file" "$env_file"
}

start_server() {  # start_server ROOT: the server of ROOT's cluster, on ROOT/sock only
  as_owner "$bindir/pg_ctl" -D "$1/data" -l "$1/server.log" -w \
    -o "-c listen_addresses='' -c unix_socket_directories='$1/sock' -c fsync=off" start >/dev/null \
    || { cat "$1/server.log" >&2; exit 1; }
}

case "$cmd" in
start)
  stop_cluster
  if [ -z "$bindir" ]; then
    echo "pg_cluster: no PostgreSQL server binaries (install the package postgresql: bash scripts/setup)" >&2
    exit 1
  fi
  root=$(mktemp -d /tmp/ruvo-pg.XXXXXX)
  echo "$root" >"$dir_file"
  mkdir -p "$root/data" "$root/sock"
  if [ "$(id -u)" -eq 0 ]; then chown -R postgres: "$root"; fi
  chmod 700 "$root/data"
  trap 'stop_cluster' ERR
  as_owner "$bindir/initdb" -D "$root/data" -U ruvo --auth=trust -E UTF8 --locale=C.UTF-8 >"$root/initdb.log" 2>&1 \
    || { cat "$root/initdb.log" >&2; exit 1; }
  start_server "$root"
  as_owner "$bindir/createdb" -h "$root/sock" -U ruvo -E UTF8 -T template0 ruvo_test
  # The socket directory must be reachable by the tests' user.
  chmod 755 "$root" "$root/sock"
  printf 'host=%s\nport=5432\ndbname=ruvo_test\nuser=ruvo\n' "$root/sock" >"$env_file"
  echo "pg_cluster: server on $root/sock"
  ;;
stop)
  stop_cluster
  ;;
halt)
  root=$(cat "$dir_file")
  as_owner "$bindir/pg_ctl" -D "$root/data" -m fast -w stop >/dev/null
  ;;
resume)
  root=$(cat "$dir_file")
  start_server "$root"
  ;;
*)
  echo "usage: $0 start|stop|halt|resume <state dir>" >&2
  exit 2
  ;;
esac
