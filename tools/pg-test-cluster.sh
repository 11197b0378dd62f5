#!/usr/bin/env bash
# Runs a command beside a throw-away PostgreSQL server:
#   tools/pg-test-cluster.sh [--tcp [--ssl]] -- COMMAND...
# The cluster lives in a temporary folder, listens on a Unix socket in that folder only,
# trusts local connections, and is stopped and removed whatever happens. COMMAND sees
# TARVIK_TEST_PG (a URI of the cluster's postgres database; tests create databases of their
# own there) and PGHOST/PGPORT/PGUSER for psql. The exit status is COMMAND's.
# One role, tarvik_pw, must give its password over the socket (scram-sha-256), so that the
# program's password question can be tested; the tests create it.
# --tcp: the server also listens on 127.0.0.1 at a free port, trusting that host, and
# commits to disk (for the benchmarks: a server reached as over a network), given as
# TARVIK_TEST_PG_TCP.
# --ssl (with --tcp): TLS on that port, with a certificate for the name localhost signed by a
# throw-away authority made in the folder (openssl); its certificate's path is given as
# TARVIK_TEST_PG_CA.
set -euo pipefail

tcp=""
ssl=""
if [ "${1:-}" = "--tcp" ]; then
  tcp=yes
  shift
  if [ "${1:-}" = "--ssl" ]; then
    ssl=yes
    shift
  fi
fi
if [ "${1:-}" != "--" ] || [ $# -lt 2 ]; then
  echo "usage: $0 [--tcp [--ssl]] -- COMMAND..." >&2
  exit 2
fi
shift

bindir=""
for candidate in "$(command -v pg_ctl 2>/dev/null | xargs -r dirname)" /usr/lib/postgresql/*/bin; do
  if [ -n "$candidate" ] && [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ]; then
    bindir=$candidate
    break
  fi
done
if [ -z "$bindir" ]; then
  echo "$0: initdb and pg_ctl not found (tools/install-deps.sh installs postgresql)" >&2
  exit 2
fi

# The server refuses to run as root: root hands the folder to postgres and runs as it.
as_owner=()
owner=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
  owner=postgres
  as_owner=(runuser -u postgres --)
fi

folder=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-pg.XXXXXX")
started=""
cleanup() {
  status=$?
  trap - EXIT INT TERM
  if [ -n "$started" ]; then
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$folder"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

chmod 700 "$folder"
[ "$(id -u)" -eq 0 ] && chown "$owner" "$folder"

"${as_owner[@]}" "$bindir/initdb" -D "$folder/data" -U postgres --auth-local=trust \
  --auth-host=reject -E UTF8 --locale=C.UTF-8 >"$folder/initdb.log" 2>&1 ||
  { cat "$folder/initdb.log" >&2; exit 1; }

# The first line that matches a connection decides: these go before initdb's own.
hba="$folder/data/pg_hba.conf"
{
  echo "local all tarvik_pw scram-sha-256"
  if [ -n "$tcp" ]; then
    echo "host all all 127.0.0.1/32 trust"
  fi
  cat "$hba"
} >"$folder/pg_hba.conf.new"
cat "$folder/pg_hba.conf.new" >"$hba" # keeps the file's owner
rm -f "$folder/pg_hba.conf.new"

port=5432
listen=""
fsync=off # nothing here outlives the run
if [ -n "$tcp" ]; then
  fsync=on # timings of writes as a real server commits them
  # A port no other server on the machine uses; the socket takes the same number.
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  listen=127.0.0.1
fi
tls=""
if [ -n "$ssl" ]; then
  # An authority, and the server's certificate for localhost (not its address) signed by it.
  (
    cd "$folder"
    openssl req -x509 -new -nodes -newkey rsa:2048 -days 2 -subj "/CN=tarvik test CA" \
      -keyout ca.key -out ca.crt
    openssl req -new -nodes -newkey rsa:2048 -subj "/CN=localhost" -keyout server.key \
      -out server.csr
    printf 'subjectAltName=DNS:localhost\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
      -extfile server.ext -out server.crt
  ) >"$folder/openssl.log" 2>&1 || { cat "$folder/openssl.log" >&2; exit 1; }
  chmod 600 "$folder/server.key"
  chmod 644 "$folder/ca.crt" "$folder/server.crt"
  [ "$(id -u)" -eq 0 ] && chown "$owner" "$folder/server.key" "$folder/server.crt"
  tls="-c ssl=on -c ssl_cert_file='$folder/server.crt' -c ssl_key_file='$folder/server.key'"
fi
started=yes
"${as_owner[@]}" "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
  -o "-c listen_addresses='$listen' -c unix_socket_directories='$folder' -p $port -c fsync=$fsync $tls" \
  start >/dev/null || { cat "$folder/server.log" >&2; exit 1; }

export PGHOST="$folder" PGPORT=$port PGUSER=postgres
if [ -n "$tcp" ]; then
  export TARVIK_TEST_PG="postgresql://postgres@:$port/postgres?host=$folder"
  export TARVIK_TEST_PG_TCP="postgresql://postgres@127.0.0.1:$port/postgres?sslmode=disable"
  [ -n "$ssl" ] && export TARVIK_TEST_PG_CA="$folder/ca.crt"
else
  export TARVIK_TEST_PG="postgresql://postgres@/postgres?host=$folder"
fi
set +e
"$@"
status=$?
set -e
exit "$status"
