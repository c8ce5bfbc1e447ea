# Sourced by the benchmark scripts (which set top, the source tree): the reference lookup server on
# 127.0.0.1, on UDP and TCP ports the system picks and without its HTTP port.
# start_reference_server <folder>: serves a new store <folder>/store.sqlite (one left there by an
#   earlier run is dropped); once it listens, $udp and $tcp hold its ports and $server its process.
#   Its output goes to <folder>/lookupd.log, shown when it exits before listening.
# stop_reference_server: ends it, if it runs.
start_reference_server() {
  rm -f "$1/ready" "$1/store.sqlite"*
  python3 "$top/tools/lookup_server/lookupd.py" --store "$1/store.sqlite" serve --udp-port 0 --tcp-ports 0 \
    --no-http --ready-file "$1/ready" >"$1/lookupd.log" 2>&1 &
  server=$!
  while [ ! -s "$1/ready" ]; do
    kill -0 "$server" 2>/dev/null || { cat "$1/lookupd.log" >&2; return 1; }
    sleep 0.1
  done
  read -r udp tcp _ <"$1/ready"
}
stop_reference_server() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
  server=""
}
server=""
