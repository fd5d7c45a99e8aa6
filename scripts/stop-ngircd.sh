#!/usr/bin/env bash
# Stops the server started by start-ngircd.sh (described by QLM_IRC_PID and
# QLM_IRC_DIR) and removes its temp dir.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib-services.sh"
qlm_stop_service "${QLM_IRC_PID:-}" ngircd 30 "${QLM_IRC_DIR:-}" /tmp/qlm-ngircd.
