#!/usr/bin/env bash
# The test run's Windows: a Wine prefix, an X display and the local test servers.
#   wine-env.sh start STATE BINDIR   create or reuse STATE/prefix, start Xvfb, a persistent
#                                    wineserver, the keep-alive GUI process, the test
#                                    servers and nginx as a real mirror server
#   wine-env.sh stop STATE           stop everything that start started
# STATE/env holds the variables that wine-run.sh exports for each test.
set -u
cmd=${1:?start or stop}
state=${2:?state folder}
here=$(cd "$(dirname "$0")" && pwd)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# nginx (Debian's nginx-light) serving the test server's docroot on a free
# loopback port, with everything it writes under STATE/nginx. A query such as
# "?rate=300k" throttles a response with nginx's own limit_rate, which sends a
# second's allowance at once before it paces: a bursting mirror. The access
# log has the body bytes sent per request ($body_bytes_sent).
stop_nginx() {
  local pidfile="$state/nginx/nginx.pid" pid
  [ -s "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  rm -f "$pidfile"
}
start_nginx() {
  local dir="$state/nginx" docroot="$1" port pid user=""
  [ -x /usr/sbin/nginx ] || { echo "nginx is missing (scripts/setup-deps.sh)" >&2; return 1; }
  mkdir -p "$dir/temp"
  : > "$dir/access.log"  # one run's requests
  # As root the workers would run as nobody; keep them able to read the docroot.
  [ "$(id -u)" = 0 ] && user="user root root;"
  for _ in 1 2 3; do
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat > "$dir/nginx.conf" <<EOF
$user
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 256; }
http {
  sendfile on;
  tcp_nopush on;
  default_type application/octet-stream;
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
  log_format mirror '\$request_uri \$status \$body_bytes_sent \$request_time';
  access_log $dir/access.log mirror;
  server {
    listen 127.0.0.1:$port;
    root $docroot;
    location / { limit_rate \$arg_rate; }
  }
}
EOF
    rm -f "$dir/nginx.pid"
    /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" >>"$log" 2>&1 &
    pid=$!
    for _ in $(seq 50); do
      if [ -s "$dir/nginx.pid" ] && [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/")" != 000 ]; then
        echo "export TW_NGINX_PORT=$port" >> "$state/env"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break  # e.g. the port was taken meanwhile
      sleep 0.1
    done
    stop_nginx
  done
  echo "nginx did not start" >&2; cat "$dir/error.log" >&2
  return 1
}

stop_all() {
  stop_nginx
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
      mkdir -p "$state/www"
      start_nginx "$state/www" || exit 1
    fi
    echo "test environment ready: DISPLAY=$display WINEPREFIX=$WINEPREFIX"
    ;;
  *)
    echo "usage: $0 start STATE BINDIR | stop STATE" >&2
    exit 2
    ;;
esac
