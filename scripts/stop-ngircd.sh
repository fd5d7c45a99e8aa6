#!/usr/bin/env bash
# Stops the server started by start-ngircd.sh (described by QLM_IRC_PID and
# QLM_IRC_DIR) and removes its temp dir.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib-services.sh"

pid=${QLM_IRC_PID:-}
dir=${QLM_IRC_DIR:-}
status=0
if [ -n "$pid" ]; then
  qlm_stop_pid "$pid" ngircd 30 || status=1
fi
case "$dir" in
  /tmp/qlm-ngircd.*) rm -rf "$dir" ;;
  "") ;;
  *) echo "not removing unexpected dir '$dir'" >&2 ;;
esac
exit $status
