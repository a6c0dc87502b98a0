# Sourced by .ci/run and .ci/with-pg-server: starts a throwaway PostgreSQL cluster with PostGIS for the
# enterprise geodatabase tests and stops it when the sourcing shell exits, whatever the outcome.
# Exports TARVO_PG_TEST (libpq connection string of the test database, over the Unix socket; the database
# tarvo_template beside it is the PostGIS template tests copy) and
# TARVO_PG_TEST_PASSWORD (the test user's password, needed over 127.0.0.1). Fails if the server cannot start.

pg_test_server_start() {
  local bindir
  bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [[ -z "$bindir" || ! -x "$bindir/initdb" ]]; then
    echo "pg-test-server: no PostgreSQL server installed (postgresql, postgresql-postgis)" >&2
    return 1
  fi
  PG_TEST_DIR=$(mktemp -d /tmp/tarvo-pg.XXXXXX)
  chmod 755 "$PG_TEST_DIR"
  trap pg_test_server_stop EXIT

  # The server refuses to run as root: run it as an unprivileged user owning the cluster folder.
  local as=()
  if [[ $(id -u) -eq 0 ]]; then
    chown nobody "$PG_TEST_DIR"
    as=(runuser -u nobody --)
  fi
  PG_TEST_AS=("${as[@]}")
  PG_TEST_BIN=$bindir

  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  local password
  password=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  printf '%s\n' "$password" >"$PG_TEST_DIR/pwfile"
  chown --reference="$PG_TEST_DIR" "$PG_TEST_DIR/pwfile"
  chmod 600 "$PG_TEST_DIR/pwfile"

  # Trust on the socket (the folder is ours), a password over TCP so that a wrong one is refused.
  "${as[@]}" "$bindir/initdb" -D "$PG_TEST_DIR/data" -U tarvo --pwfile="$PG_TEST_DIR/pwfile" \
    --auth-local=trust --auth-host=scram-sha-256 --encoding=UTF8 --locale=C.UTF-8 >"$PG_TEST_DIR/initdb.log" 2>&1 \
    || { cat "$PG_TEST_DIR/initdb.log" >&2; return 1; }
  rm -f "$PG_TEST_DIR/pwfile"
  mkdir "$PG_TEST_DIR/sock"
  chown --reference="$PG_TEST_DIR" "$PG_TEST_DIR/sock"
  chmod 755 "$PG_TEST_DIR/sock"
  if ! "${as[@]}" "$bindir/pg_ctl" -D "$PG_TEST_DIR/data" -l "$PG_TEST_DIR/server.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$PG_TEST_DIR/sock -c fsync=off -c max_connections=200" \
      start >/dev/null; then
    echo "pg-test-server: the server did not start" >&2
    cat "$PG_TEST_DIR/server.log" >&2
    return 1
  fi
  # tarvo_template carries PostGIS and nobody connects to it, so tests can make their own databases
  # from it (CREATE DATABASE ... TEMPLATE tarvo_template); tarvo_test is a copy for shared use.
  local psql=("$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$PG_TEST_DIR/sock" -p "$port" -U tarvo)
  "${psql[@]}" -d postgres -c "CREATE DATABASE tarvo_template" || return 1
  "${psql[@]}" -d tarvo_template -c "CREATE EXTENSION postgis" \
    || { echo "pg-test-server: PostGIS is missing (postgresql-postgis)" >&2; return 1; }
  "${psql[@]}" -d postgres -c "CREATE DATABASE tarvo_test TEMPLATE tarvo_template" || return 1
  export TARVO_PG_TEST="host=$PG_TEST_DIR/sock port=$port dbname=tarvo_test user=tarvo"
  export TARVO_PG_TEST_PASSWORD=$password
  echo "pg-test-server: PostgreSQL with PostGIS on 127.0.0.1:$port and $PG_TEST_DIR/sock"
}

pg_test_server_stop() {
  if [[ -n "${PG_TEST_DIR:-}" && -d "$PG_TEST_DIR" ]]; then
    if [[ -f "$PG_TEST_DIR/data/postmaster.pid" ]]; then
      "${PG_TEST_AS[@]}" "$PG_TEST_BIN/pg_ctl" -D "$PG_TEST_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$PG_TEST_DIR"
  fi
}
