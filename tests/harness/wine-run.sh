#!/usr/bin/env bash
# wine-run.sh STATE program.exe [args]: runs a test program under wine64 in the
# test run's prefix and display, with the test servers' ports in its environment.
set -u
state=${1:?state folder}
shift
# shellcheck disable=SC1091
. "$state/env" || { echo "no test environment in $state (the wine fixture did not run)" >&2; exit 1; }
exec /usr/lib/wine/wine64 "$@"
