#!/usr/bin/env bash
# Starts a throw-away MariaDB server on 127.0.0.1 in a temp dir and prints the
# `export` lines that describe it (eval them; stop-mariadb.sh uses them too).
# Everything else goes to stderr.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib-services.sh"

dir=$(mktemp -d /tmp/qlm-mariadb.XXXXXX)
data="$dir/data"
sock="$dir/sock"
mkdir -p "$data"

if ! mariadb-install-db --no-defaults --datadir="$data" --user=root \
    --auth-root-authentication-method=normal --skip-test-db --skip-name-resolve \
    >"$dir/install.log" 2>&1; then
  cat "$dir/install.log" >&2
  rm -rf "$dir"
  echo "mariadb-install-db failed" >&2
  exit 1
fi

for attempt in 1 2 3 4 5; do
  port=$(qlm_free_port)
  # Own log file, so the server never holds the caller's stdout open.
  mariadbd --no-defaults --datadir="$data" --user=root --bind-address=127.0.0.1 \
    --port="$port" --socket="$sock" --skip-name-resolve --skip-log-bin \
    --innodb-buffer-pool-size=64M --log-error="$dir/mariadbd.log" \
    </dev/null >>"$dir/mariadbd.out" 2>&1 &
  pid=$!
  for _ in $(seq 1 300); do
    if mariadb-admin --no-defaults --socket="$sock" --user=root ping >/dev/null 2>&1; then
      echo "export QLM_MYSQL_HOST=127.0.0.1:$port"
      echo "export QLM_MYSQL_PORT=$port"
      echo "export QLM_MYSQL_SOCKET=$sock"
      echo "export QLM_MYSQL_USER=root"
      echo "export QLM_MYSQL_PASSWORD="
      echo "export QLM_MYSQL_PID=$pid"
      echo "export QLM_MYSQL_DIR=$dir"
      echo "MariaDB ready on 127.0.0.1:$port (pid $pid)" >&2
      exit 0
    fi
    qlm_alive "$pid" || break
    sleep 0.1
  done
  # Did not come up (most likely the port was taken meanwhile): try another.
  qlm_stop_pid "$pid" mariadbd 10 || true
  echo "mariadbd did not start on port $port (attempt $attempt)" >&2
done

tail -n 30 "$dir/mariadbd.log" >&2 2>/dev/null || true
rm -rf "$dir"
exit 1
