# shellcheck shell=bash
# Helpers shared by the start/stop scripts (sourced, not run).

# Prints a TCP port on 127.0.0.1 that nothing listens on.
qlm_free_port() {
  local port
  for _ in $(seq 1 200); do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    if command -v ss >/dev/null 2>&1; then
      if [ -n "$(ss -Htan "sport = :$port" 2>/dev/null)" ]; then continue; fi
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
    echo "$port"
    return 0
  done
  echo "no free port found" >&2
  return 1
}

# True while the process is alive (a zombie counts as gone).
qlm_alive() {
  local pid=$1 state
  kill -0 "$pid" 2>/dev/null || return 1
  state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || true)
  [ "$state" != "Z" ]
}

# Sends SIGTERM to pid $1 if its command name is $2, and waits up to $3 seconds
# for it to exit, then SIGKILL.
qlm_stop_pid() {
  local pid=$1 name=$2 limit=${3:-30} comm
  [ -n "$pid" ] || return 0
  qlm_alive "$pid" || return 0
  comm=$(cat "/proc/$pid/comm" 2>/dev/null || true)
  if [ "$comm" != "$name" ]; then
    echo "pid $pid is '$comm', not $name: left alone" >&2
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 $((limit * 10))); do
    qlm_alive "$pid" || return 0
    sleep 0.1
  done
  echo "$name (pid $pid) ignored SIGTERM; killing it" >&2
  kill -KILL "$pid" 2>/dev/null || true
  for _ in $(seq 1 50); do
    qlm_alive "$pid" || return 0
    sleep 0.1
  done
  return 1
}

# Stops a service by its pid (checking the process name) and removes its temp
# dir, which must carry the service's own prefix. Exits non-zero when the
# process did not stop.
qlm_stop_service() {
  local pid=$1 name=$2 grace=$3 dir=$4 prefix=$5 status=0
  if [ -n "$pid" ]; then
    qlm_stop_pid "$pid" "$name" "$grace" || status=1
  fi
  case "$dir" in
    "$prefix"*) rm -rf "$dir" ;;
    "") ;;
    *) echo "not removing unexpected dir '$dir'" >&2 ;;
  esac
  return $status
}
