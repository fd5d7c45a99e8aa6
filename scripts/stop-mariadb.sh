#!/usr/bin/env bash
# Stops the server started by start-mariadb.sh (described by QLM_MYSQL_PID and
# QLM_MYSQL_DIR) and removes its temp dir.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib-services.sh"
qlm_stop_service "${QLM_MYSQL_PID:-}" mariadbd 60 "${QLM_MYSQL_DIR:-}" /tmp/qlm-mariadb.
