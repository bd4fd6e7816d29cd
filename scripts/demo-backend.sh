#!/usr/bin/env bash
# The demo back end: nginx serving the demo operator's stub configuration and packages on
# 127.0.0.1, run as the current user with its configuration, pid file, logs and served files in
# build/demo-backend/<port>/ (DEMO_BACKEND_DIR instead of build/demo-backend, for tests).
#
#   demo-backend.sh start|stop|status [PORT]      PORT defaults to 18080, the demo operator's
#
# start and stop succeed when there is nothing to do; status exits 0 when running, 3 when not.
set -euo pipefail
PATH=$PATH:/usr/sbin  # nginx, for users whose PATH has no sbin
here=$(cd "$(dirname "$0")/.." && pwd)
action=${1:-}
port=${2:-18080}
state=${DEMO_BACKEND_DIR:-$here/build/demo-backend}/$port
url="http://127.0.0.1:$port"

# Only an nginx started with this folder's configuration counts: a pid file can outlive its
# process, and the number can belong to something else by now.
our_pid() {
  local pid
  pid=$(cat "$state/nginx.pid" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null |
    grep -qF -- "-c $state/nginx.conf" && echo "$pid"
}

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

start() {
  local pid
  if pid=$(our_pid); then
    echo "demo back end already running on $url (pid $pid)"
    return 0
  fi
  if listening; then
    echo "demo-backend: port $port is in use by another program" >&2
    return 1
  fi
  mkdir -p "$state"
  python3 "$here/demo/layout.py" "$state" "$port"
  # nginx opens the default error log before it reads -e; -e keeps it out of /var/log.
  if ! nginx -q -e "$state/error.log" -p "$state" -c "$state/nginx.conf" 2>/dev/null; then
    echo "demo-backend: nginx did not start: $(tail -n 1 "$state/error.log" 2>/dev/null)" >&2
    return 1
  fi
  # The daemon writes its pid file just after nginx returns.
  for _ in $(seq 50); do
    pid=$(our_pid) && break
    sleep 0.1
  done
  echo "demo back end running on $url (pid ${pid:-?}), files in $state"
}

stop() {
  local pid
  if ! pid=$(our_pid); then
    echo "demo back end on port $port is not running"
    return 0
  fi
  kill -TERM "$pid"
  # Not kill -0: a zombie waiting for its reaper answers that, but has no command line any more.
  for _ in $(seq 50); do
    our_pid >/dev/null || { echo "demo back end on port $port stopped"; return 0; }
    sleep 0.1
  done
  echo "demo-backend: nginx (pid $pid) did not stop" >&2
  return 1
}

status() {
  local pid
  if pid=$(our_pid); then
    echo "demo back end running on $url (pid $pid)"
  else
    echo "demo back end on port $port is not running"
    return 3
  fi
}

case "$action" in
  start | stop | status) "$action" ;;
  *) echo "usage: $0 start|stop|status [PORT]" >&2; exit 2 ;;
esac
