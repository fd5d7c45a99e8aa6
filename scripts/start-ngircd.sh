#!/usr/bin/env bash
# Starts a throw-away ngircd on 127.0.0.1 in a temp dir and prints the
# `export` lines that describe it (eval them; stop-ngircd.sh uses them too).
# Everything else goes to stderr.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib-services.sh"

dir=$(mktemp -d /tmp/qlm-ngircd.XXXXXX)
mkdir -p "$dir/conf.d"   # IncludeDir: empty, so the system's snippets stay out
: >"$dir/motd"

for attempt in 1 2 3 4 5; do
  port=$(qlm_free_port)
  # No PidFile; MaxPenaltyTime = 0 so tests are not throttled to a few lines a
  # second; MaxConnectionsIP = 0 so several bots and users may connect.
  cat >"$dir/ngircd.conf" <<CONF
[Global]
	Name = irc.test.local
	Info = Quillmere test IRC server
	Listen = 127.0.0.1
	Ports = $port
	MotdFile = $dir/motd
	AdminInfo1 = Quillmere tests
	AdminInfo2 = loopback only
	AdminEMail = nobody@test.local
[Limits]
	MaxConnectionsIP = 0
	MaxNickLength = 30
	MaxPenaltyTime = 0
[Options]
	DNS = no
	Ident = no
	PAM = no
	RequireAuthPing = no
	IncludeDir = $dir/conf.d
CONF
  ngircd -n -f "$dir/ngircd.conf" </dev/null >>"$dir/ngircd.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "export QLM_IRC_HOST=127.0.0.1"
      echo "export QLM_IRC_PORT=$port"
      echo "export QLM_IRC_PID=$pid"
      echo "export QLM_IRC_DIR=$dir"
      echo "ngircd ready on 127.0.0.1:$port (pid $pid)" >&2
      exit 0
    fi
    qlm_alive "$pid" || break
    sleep 0.05
  done
  qlm_stop_pid "$pid" ngircd 10 || true
  echo "ngircd did not start on port $port (attempt $attempt)" >&2
done

tail -n 30 "$dir/ngircd.log" >&2 || true
rm -rf "$dir"
exit 1
