#!/usr/bin/env bash
# The test run's Windows: a Wine prefix, an X display and the local test servers.
#   wine-env.sh start STATE BINDIR   create or reuse STATE/prefix; start Xvfb, a persistent
#                                    wineserver, the keep-alive GUI process, the test
#                                    servers, nginx as a real mirror server and squid as a proxy
#   wine-env.sh stop STATE           stop everything that start started
# STATE/env holds the variables that with-env.sh exports for each test.
set -u
cmd=${1:?start or stop}
state=${2:?state folder}
here=$(cd "$(dirname "$0")" && pwd)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
log="$state/wine-env.log"

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

# squid (Debian's) under STATE/squid on two free loopback ports: TW_SQUID_PORT
# open, TW_SQUID_AUTH_PORT with Basic "tw"/"pw". It closes the client's
# connection after each answer: else Wine's WinINet sends HTTPS through a tunnel
# whose CONNECT got 407 as if it were up. Access log: "<method> <url> <status> <user>".
start_squid() {
  # Run by root, squid works as the proxy user, who may not reach a checkout in a
  # private folder (/root): its files live under /tmp, linked as STATE/squid.
  local dir
  dir=$(mktemp -d /tmp/tw-squid.XXXXXX) && rm -rf "$state/squid" && ln -s "$dir" "$state/squid" || return 1
  : > "$dir/access.log" && chmod -R a+rwX "$dir"
  printf 'tw:%s\n' "$(openssl passwd -apr1 pw)" > "$dir/passwd"
  set -- $(python3 -c 'import socket; s = [socket.socket() for _ in "ab"]; [x.bind(("127.0.0.1", 0)) for x in s]
print(*(x.getsockname()[1] for x in s))')
  printf '%s\n' "http_port 127.0.0.1:$1" "http_port 127.0.0.1:$2 name=auth" "acl auth_port myportname auth" \
    "auth_param basic program /usr/lib/squid/basic_ncsa_auth $dir/passwd" "acl authenticated proxy_auth REQUIRED" \
    "http_access deny auth_port !authenticated" "http_access allow all" "client_persistent_connections off" \
    "cache deny all" "logformat tw %rm %ru %>Hs %un" "access_log stdio:$dir/access.log tw" \
    "cache_log $dir/cache.log" "pid_filename $dir/squid.pid" "coredump_dir $dir" > "$dir/squid.conf"
  /usr/sbin/squid -N -f "$dir/squid.conf" >>"$log" 2>&1 &
  echo $! >> "$state/pids"
  for _ in $(seq 100); do  # ready once it forwards a request
    curl -s -o /dev/null -x "127.0.0.1:$1" "http://127.0.0.1:$TW_HTTP_PORT/" && echo "export TW_SQUID_PORT=$1" \
      "TW_SQUID_AUTH_PORT=$2" >> "$state/env" && return 0
    sleep 0.1
  done
  return 1
}

stop_all() {
  stop_nginx
  [ -f "$state/pids" ] && while read -r pid; do kill "$pid" 2>/dev/null; done < "$state/pids"
  if [ -d "$state/prefix" ]; then
    WINEPREFIX="$state/prefix" "$WINESERVER" -k 2>/dev/null
    WINEPREFIX="$state/prefix" timeout 20 "$WINESERVER" -w 2>/dev/null
  fi
  if [ -f "$state/pids" ]; then
    sleep 0.2
    while read -r pid; do kill -9 "$pid" 2>/dev/null; done < "$state/pids"
    rm -f "$state/pids"
  fi
  if [ -L "$state/squid" ]; then  # its logs come back as the run's evidence
    local squid_dir
    squid_dir=$(readlink "$state/squid") && rm -f "$state/squid" && mkdir -p "$state/squid" &&
      cp "$squid_dir"/*.log "$state/squid/" 2>/dev/null
    rm -rf "$squid_dir"
  fi
  # The 1 MiB tmpfs of the full-disk tests.
  if mountpoint -q "$state/fulldisk" 2>/dev/null; then
    umount "$state/fulldisk" 2>/dev/null || umount -l "$state/fulldisk" 2>/dev/null
  fi
}
fail() { echo "$1" >&2; cat "$log" >&2; exit 1; }

case "$cmd" in
  stop)
    stop_all
    exit 0
    ;;
  start)
    bindir=${3:?bin folder}
    mkdir -p "$state"
    stop_all
    : > "$state/pids"
    : > "$log"

    rm -f "$state/display.num"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display.num" >>"$log" 2>&1 &
    echo $! >> "$state/pids"
    for _ in $(seq 100); do [ -s "$state/display.num" ] && break; sleep 0.1; done
    [ -s "$state/display.num" ] || fail "Xvfb did not start"
    display=":$(head -n1 "$state/display.num")"

    export WINEPREFIX="$state/prefix" WINEDEBUG=-all DISPLAY="$display" WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -p >>"$log" 2>&1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE" wineboot -i >>"$log" 2>&1 || fail "wineboot failed"
      # In the wineserver session that made the prefix the RPC service never starts (no COM between
      # processes, so no desktop shell for the links): a new session.
      "$WINESERVER" -k; "$WINESERVER" -w; "$WINESERVER" -p >>"$log" 2>&1
    fi
    # No window manager runs on the display: without this Wine waits 2 s for
    # one whenever a captioned window is hidden or destroyed.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1
    for name in WINEPREFIX DISPLAY WINEDEBUG WINEDLLOVERRIDES; do echo "export $name='${!name}'"; done > "$state/env"
    echo "export TW_TEST_STATE='$state' TW_TEST_BIN='$bindir'" >> "$state/env"

    # Keeps Wine's desktop process alive for the whole run.
    "$WINE" "$bindir/tw_keepalive.exe" >>"$log" 2>&1 &
    echo $! >> "$state/pids"

    # A test CA trusted by the prefix and the servers' certificates.
    "$here/make-certs.sh" "$state/certs" >>"$log" 2>&1 || fail "make-certs failed"
    "$WINE" "$bindir/tw_wintool.exe" addroot "Z:$state/certs/ca.der" >>"$log" 2>&1 || fail "cannot add the test CA"

    # A disk that really fills up (root only).
    mkdir -p "$state/fulldisk"
    if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=1m tmpfs "$state/fulldisk" >>"$log" 2>&1; then
      echo "export TW_FULLDISK_DIR='Z:$(printf '%s' "$state/fulldisk/" | tr '/' '\\')'" >> "$state/env"
    fi

    rm -f "$state/servers.env"
    python3 "$here/test_server.py" --state "$state" >>"$log" 2>&1 &
    echo $! >> "$state/pids"
    for _ in $(seq 100); do [ -s "$state/servers.env" ] && break; sleep 0.1; done
    [ -s "$state/servers.env" ] || fail "the test servers did not start"
    cat "$state/servers.env" >> "$state/env"
    mkdir -p "$state/www"
    start_nginx "$state/www" || fail "nginx did not start"
    . "$state/servers.env" && start_squid || fail "squid did not start"
    echo "test environment ready: DISPLAY=$display WINEPREFIX=$WINEPREFIX"
    ;;
  *)
    echo "usage: $0 start STATE BINDIR | stop STATE" >&2
    exit 2
    ;;
esac
