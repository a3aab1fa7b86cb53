#!/usr/bin/env bash
# The test run's Windows: a Wine prefix, an X display and the local test servers.
#   wine-env.sh start STATE BINDIR   create or reuse STATE/prefix, start Xvfb, a persistent
#                                    wineserver, the keep-alive GUI process and the servers
#   wine-env.sh stop STATE           stop everything that start started
# STATE/env holds the variables that wine-run.sh exports for each test.
set -u
cmd=${1:?start or stop}
state=${2:?state folder}
here=$(cd "$(dirname "$0")" && pwd)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

stop_all() {
  if [ -f "$state/pids" ]; then
    while read -r pid; do kill "$pid" 2>/dev/null; done < "$state/pids"
  fi
  if [ -d "$state/prefix" ]; then
    WINEPREFIX="$state/prefix" "$WINESERVER" -k 2>/dev/null
    WINEPREFIX="$state/prefix" timeout 20 "$WINESERVER" -w 2>/dev/null
  fi
  if [ -f "$state/pids" ]; then
    sleep 0.2
    while read -r pid; do kill -9 "$pid" 2>/dev/null; done < "$state/pids"
    rm -f "$state/pids"
  fi
}

# A 1 MiB tmpfs at STATE/fulldisk (root only): a disk that really fills up,
# for the tests of writes that fail for want of space.
unmount_fulldisk() {
  if mountpoint -q "$state/fulldisk" 2>/dev/null; then
    umount "$state/fulldisk" 2>/dev/null || umount -l "$state/fulldisk" 2>/dev/null
  fi
}
mount_fulldisk() {
  [ "$(id -u)" = 0 ] || return 0
  mkdir -p "$state/fulldisk"
  unmount_fulldisk
  if mount -t tmpfs -o size=1m tmpfs "$state/fulldisk" >>"$log" 2>&1; then
    local winpath
    winpath="Z:$(printf '%s' "$state/fulldisk/" | tr '/' '\\')"
    echo "export TW_FULLDISK_DIR='$winpath'" >> "$state/env"
  fi
}

case "$cmd" in
  stop)
    stop_all
    unmount_fulldisk
    exit 0
    ;;
  start)
    bindir=${3:?bin folder}
    mkdir -p "$state"
    stop_all
    : > "$state/pids"
    : > "$state/env"
    log="$state/wine-env.log"
    : > "$log"

    # X display for the windows of the tests.
    rm -f "$state/display.num"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display.num" >>"$log" 2>&1 &
    echo $! >> "$state/pids"
    for _ in $(seq 100); do [ -s "$state/display.num" ] && break; sleep 0.1; done
    [ -s "$state/display.num" ] || { echo "Xvfb did not start" >&2; cat "$log" >&2; exit 1; }
    display=":$(head -n1 "$state/display.num")"

    export WINEPREFIX="$state/prefix" WINEDEBUG=-all DISPLAY="$display"
    export WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p >>"$log" 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE" wineboot -i >>"$log" 2>&1 || { echo "wineboot failed" >&2; cat "$log" >&2; exit 1; }
    fi
    # No window manager runs on the display: without this Wine waits 2 s for
    # one whenever a captioned window is hidden or destroyed.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1
    {
      echo "export WINEPREFIX='$WINEPREFIX'"
      echo "export DISPLAY='$display'"
      echo "export WINEDEBUG=-all"
      echo "export WINEDLLOVERRIDES='mscoree,mshtml='"
      echo "export TW_TEST_STATE='$state'"
      echo "export TW_TEST_BIN='$bindir'"
    } >> "$state/env"

    # Keep Wine's desktop process alive for the whole run.
    "$WINE" "$bindir/tw_keepalive.exe" >>"$log" 2>&1 &
    echo $! >> "$state/pids"

    # Test certificates: a CA trusted by the prefix, server certificates.
    "$here/make-certs.sh" "$state/certs" >>"$log" 2>&1 || { echo "make-certs failed" >&2; cat "$log" >&2; exit 1; }
    "$WINE" "$bindir/tw_certtool.exe" addroot "Z:$state/certs/ca.der" >>"$log" 2>&1 \
      || { echo "cannot add the test CA to the prefix" >&2; cat "$log" >&2; exit 1; }

    mount_fulldisk

    # Local HTTP/HTTPS test servers; they write their ports into servers.env.
    if [ -f "$here/test_server.py" ]; then
      rm -f "$state/servers.env"
      python3 "$here/test_server.py" --state "$state" >>"$state/test_server.log" 2>&1 &
      echo $! >> "$state/pids"
      for _ in $(seq 100); do [ -s "$state/servers.env" ] && break; sleep 0.1; done
      [ -s "$state/servers.env" ] || { echo "test server did not start" >&2; cat "$state/test_server.log" >&2; exit 1; }
      cat "$state/servers.env" >> "$state/env"
    fi
    echo "test environment ready: DISPLAY=$display WINEPREFIX=$WINEPREFIX"
    ;;
  *)
    echo "usage: $0 start STATE BINDIR | stop STATE" >&2
    exit 2
    ;;
esac
