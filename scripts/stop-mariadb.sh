#!/usr/bin/env bash
# Stops the server started by start-mariadb.sh (described by QLM_MYSQL_PID and
# QLM_MYSQL_DIR) and removes its temp dir.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib-services.sh"

pid=${QLM_MYSQL_PID:-}
dir=${QLM_MYSQL_DIR:-}
status=0
if [ -n "$pid" ]; then
  qlm_stop_pid "$pid" mariadbd 60 || status=1
fi
case "$dir" in
  /tmp/qlm-mariadb.*) rm -rf "$dir" ;;
  "") ;;
  *) echo "not removing unexpected dir '$dir'" >&2 ;;
esac
exit $status
