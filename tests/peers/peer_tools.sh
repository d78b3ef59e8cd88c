# What the scripts that start a server share; sourced.
#   fail TEXT          ends the script, saying why
#   free_port          a port of 127.0.0.1 nobody listens on
#   wait_for URL       waits until URL answers (15 s at most)
fail() { echo "FAIL: $*" >&2; exit 1; }
free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for() {
    local tries=0
    until curl -sk -o /dev/null "$1"; do
        tries=$((tries + 1)); [ $tries -lt 150 ] || fail "no server at $1"; sleep 0.1
    done
}
