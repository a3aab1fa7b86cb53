#!/usr/bin/env bash
# with-env.sh STATE command [args]: runs a command (a Windows test program
# through /usr/lib/wine/wine64, or an end-to-end driver) with the test run's
# Wine prefix, display and server ports exported.
set -u
state=${1:?state folder}
shift
# shellcheck disable=SC1091
. "$state/env" || { echo "no test environment in $state (the wine fixture did not run)" >&2; exit 1; }
exec "$@"
