#!/bin/sh
# Runs a suite on the server back end: TestRegister copies each register it writes into a
# database of its own on the test server. Without a server (TARVIK_TEST_PG, set by
# tools/pg-test-cluster.sh) there is nothing to run it on, and ctest counts it as skipped.
if [ -z "${TARVIK_TEST_PG:-}" ]; then
  echo "skipped: no PostgreSQL server for the tests: run them inside tools/pg-test-cluster.sh -- …"
  exit 77
fi
TARVIK_TEST_BACKEND=server exec "$@"
