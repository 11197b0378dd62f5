#!/usr/bin/env bash
# Runs a command beside a throw-away PostgreSQL server:
#   tools/pg-test-cluster.sh -- COMMAND...
# The cluster lives in a temporary folder, listens on a Unix socket in that folder only (no
# TCP), trusts local connections, and is stopped and removed whatever happens. COMMAND sees
# TARVIK_TEST_PG (a URI of the cluster's postgres database; tests create databases of their
# own there) and PGHOST/PGPORT/PGUSER for psql. The exit status is COMMAND's.
set -euo pipefail

if [ "${1:-}" != "--" ] || [ $# -lt 2 ]; then
  echo "usage: $0 -- COMMAND..." >&2
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
started=yes
"${as_owner[@]}" "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
  -o "-c listen_addresses='' -c unix_socket_directories='$folder' -p 5432 -c fsync=off" start \
  >/dev/null || { cat "$folder/server.log" >&2; exit 1; }

export PGHOST="$folder" PGPORT=5432 PGUSER=postgres
export TARVIK_TEST_PG="postgresql://postgres@/postgres?host=$folder"
set +e
"$@"
status=$?
set -e
exit "$status"
