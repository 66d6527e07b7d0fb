#!/usr/bin/env bash
# A throw-away PostgreSQL cluster holding the call database, for the demo and the tests.
#
#   pg-cluster.sh start  [DIR]        create the cluster on first use, start it, and print
#                                     the ODBC connection string for TARVEX_ODBC (its
#                                     password and database differ from cluster to cluster)
#   pg-cluster.sh stop   [DIR]        stop it; the data and the port stay for the next start
#   pg-cluster.sh kill   [DIR]        stop it at once, as a crash would (no checkpoint,
#                                     connections cut); a later start recovers it
#   pg-cluster.sh freeze [DIR]        stop the server's processes (SIGSTOP) as a hung server would
#   pg-cluster.sh thaw   [DIR]        let them go on (SIGCONT)
#   pg-cluster.sh remove [DIR]        stop it and delete DIR
#   pg-cluster.sh sql    DIR QUERY    run QUERY as the relay's login; fields are separated by
#                                     0x1F and rows end with 0x1E; texts come back as CP949
#
# DIR defaults to $TARVEX_PG_DIR or /tmp/tarvex-pg. The cluster listens on a free
# loopback port and on a socket in DIR. As root, the server runs as user postgres.
set -euo pipefail

script_dir=$(cd "$(dirname "$0")" && pwd)
sql_file="$script_dir/../core/db/sql/cid_callinwrite_postgres.sql"

# The relay's login, as in the built-in connection string. The password and the
# database's name are drawn for each cluster and kept in DIR/credentials: a
# relay or test still holding the connection string of a cluster that is gone
# cannot sign in to another one that took its port.
login=tarvex_cid

command=${1:-}
dir=${2:-${TARVEX_PG_DIR:-/tmp/tarvex-pg}}

die() {
  echo "pg-cluster: $*" >&2
  exit 1
}

find_bindir() {
  local candidate
  for candidate in $(printf "%s\n" /usr/lib/postgresql/*/bin | sort -V -r); do
    [ -x "$candidate/initdb" ] && { echo "$candidate"; return; }
  done
  candidate=$(command -v initdb 2>/dev/null) || die "initdb not found"
  dirname "$candidate"
}
bindir=$(find_bindir)

# The server refuses to run as root; run its tools as postgres then, from a directory it may read.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    (cd / && runuser -u postgres -- "$@")
  else
    "$@"
  fi
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Below the range the system hands out for outgoing connections, so that
# connections waiting to time out never hold the port. The search starts at a
# random port: a cluster stopped for a while (a test of a database that is
# down) must find its port free again when it restarts, so the next cluster
# must not take the lowest free one.
free_port() {
  local first=25432 count=568 start offset port
  start=$((RANDOM % count))
  for ((offset = 0; offset < count; offset++)); do
    port=$((first + (start + offset) % count))
    port_in_use "$port" || { echo "$port"; return; }
  done
  die "no free port between $first and $((first + count - 1))"
}

random_token() {
  od -An -N12 -tx1 /dev/urandom | tr -d ' \n'
}

new_credentials() {
  password=$(random_token)
  database=TarvexCID_$(random_token)
  (umask 077 && printf 'password=%s\ndatabase=%s\n' "$password" "$database" >"$dir/credentials")
}

load_credentials() {
  [ -f "$dir/credentials" ] || die "$dir has no credentials file (an older cluster?): remove it"
  password=$(sed -n 's/^password=//p' "$dir/credentials")
  database=$(sed -n 's/^database=//p' "$dir/credentials")
}

port_of() {
  sed -n 's/^port = \([0-9]*\)$/\1/p' "$dir/data/postgresql.conf" | tail -n 1
}

psql_as_login() {
  PGCLIENTENCODING=UHC as_owner "$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" \
    -p "$(port_of)" -U "$login" -d "$database" "$@"
}

create_cluster() {
  mkdir -p "$dir"
  new_credentials
  [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
  as_owner "$bindir/initdb" -D "$dir/data" -U postgres -E UTF8 --locale=C \
    --auth-local=trust --auth-host=scram-sha-256 >"$dir/initdb.log" 2>&1 ||
    die "initdb failed, see $dir/initdb.log"
  cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir'
fsync = off
EOF
  # A port that takes no connection may still be bound by another program (or
  # by another cluster starting at the same moment): then the next one is tried.
  local port attempt
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    echo "port = $port" >>"$dir/data/postgresql.conf"
    as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 120 start >/dev/null && break
    grep -q "could not bind" "$dir/server.log" && [ "$attempt" -lt 5 ] ||
      die "the server did not start, see $dir/server.log"
  done
  as_owner "$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$(port_of)" -U postgres \
    -d postgres >/dev/null <<EOF
CREATE ROLE $login LOGIN PASSWORD '$password';
CREATE DATABASE "$database" OWNER $login ENCODING 'UTF8' TEMPLATE template0;
EOF
  psql_as_login -f - <"$sql_file" >/dev/null
}

start_server() {
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 120 start >/dev/null ||
    die "the server did not start, see $dir/server.log"
}

server_running() {
  as_owner "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1
}

stop_server() {
  if [ -d "$dir/data" ] && server_running; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m "${1:-fast}" -w -t 120 stop >/dev/null
  fi
}

# The postmaster and every process it started.
signal_server() {
  local pid
  [ -f "$dir/data/postmaster.pid" ] || return 0
  pid=$(head -n 1 "$dir/data/postmaster.pid")
  kill -s "$1" "$pid" $(pgrep -P "$pid") 2>/dev/null || true
}

case "$command" in
  start)
    if [ -f "$dir/data/PG_VERSION" ]; then
      load_credentials
      server_running || start_server
    else
      create_cluster
    fi
    # ConnSettings makes the server take and give CP949, the relay's text encoding.
    echo "DRIVER={PostgreSQL ANSI};SERVER=127.0.0.1;PORT=$(port_of);UID=$login;PWD=$password;DATABASE=$database;ConnSettings=SET client_encoding TO 'UHC';"
    ;;
  stop)
    stop_server
    ;;
  kill)
    stop_server immediate
    ;;
  freeze)
    signal_server STOP
    ;;
  thaw)
    signal_server CONT
    ;;
  remove)
    signal_server CONT  # a frozen server would never stop
    stop_server
    rm -rf "$dir"
    ;;
  sql)
    [ $# -eq 3 ] || die "usage: $0 sql DIR QUERY"
    load_credentials
    psql_as_login -A -t -F $'\x1f' -R $'\x1e' -c "$3"
    ;;
  *)
    die "usage: $0 start|stop|kill|freeze|thaw|remove [DIR] | sql DIR QUERY"
    ;;
esac
