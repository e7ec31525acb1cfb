# shellcheck shell=bash
# Helpers for scripts that run servers of their own on 127.0.0.1 (lab/lab.sh,
# bench/run.sh). Sourcing it defines functions and runs nothing:
#
#   alive PID                   the process exists and is not a zombie
#   cmdline_names FOLDER PID    PID is alive and its command line names FOLDER/
#   random_hex N                N random bytes as hex digits
#   free_ports tcp|udp ...      one free 127.0.0.1 port per argument
#   start_polled PIDFILE PORT LOG [NAME=VALUE...] CMD [ARG...]
#                               start a server in its own session, wait until it listens
#   stop_group PID TEST...      stop PID's process group: TERM, then KILL if it lingers

alive() {  # alive PID
  local state
  [[ $1 =~ ^[0-9]+$ ]] || return 1
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [[ -n $state && $state != Z ]]
}

# A zombie's command line is empty, so it names nothing.
cmdline_names() {  # cmdline_names FOLDER PID
  alive "$2" && tr '\0' ' ' 2>/dev/null <"/proc/$2/cmdline" | grep -qF -- "$1/"
}

random_hex() { od -An -N"$1" -tx1 /dev/urandom | tr -d ' \n'; }

# Prints one free 127.0.0.1 port per argument, all distinct: "tcp", or "udp"
# for a port free for TCP and UDP alike (a KDC listens on both).
free_ports() {
  local kind
  for kind in "$@"; do
    [[ $kind == tcp || $kind == udp ]] || { echo "free_ports: '$kind' is neither tcp nor udp" >&2; return 1; }
  done
  /usr/bin/python3 - "$@" <<'EOF'
import socket, sys
held, ports = [], []
for kind in sys.argv[1:]:
    while True:
        t = socket.socket()
        t.bind(("127.0.0.1", 0))
        held.append(t)
        port = t.getsockname()[1]
        if kind == "udp":
            u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            try:
                u.bind(("127.0.0.1", port))
            except OSError:
                continue
            u.close()
        ports.append(str(port))
        break
print(" ".join(ports))
EOF
}

# start_polled PIDFILE PORT LOG [NAME=VALUE...] CMD [ARG...]: starts CMD in a
# session of its own, with nothing in its environment but PATH, LANG=C and the
# NAME=VALUE settings, output appended to LOG, and writes its pid to PIDFILE
# at once so that a caller's cleanup can stop it. Then polls every 10 ms until
# CMD listens on TCP 127.0.0.1:PORT. Returns 0 once it does, 1 when CMD exits
# or another process answers on PORT, 2 after 500 polls.
start_polled() {
  local pidfile=$1 port=$2 log=$3 pid i
  [[ $port =~ ^[0-9]+$ ]] || { echo "start_polled: not a port: '$port'" >&2; return 1; }
  shift 3
  (($#)) || { echo "start_polled: no command" >&2; return 1; }
  # Its own session and process group: a foreground prefork Apache signals its
  # whole group when it stops, and its group is what stop_group signals.
  setsid env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C "$@" </dev/null >>"$log" 2>&1 &
  pid=$!
  echo "$pid" >"$pidfile"
  for ((i = 0; i < 500; i++)); do
    alive "$pid" || return 1
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      ss -ltnpH "sport = :$port" | grep -q "pid=$pid," && return 0
      return 1
    fi
    sleep 0.01
  done
  return 2
}

group_members() {  # group_members PGID: its live (not zombie) processes
  ps -eo pid=,pgid=,stat= | awk -v g="$1" '$2 == g && $3 !~ /^Z/ {print $1}'
}

# gone_within STEPS TARGET TEST...: true once TARGET is gone, polled STEPS
# times 20 ms apart: a group (-PGID) when no live member is left, a pid when it
# fails TEST.
gone_within() {
  local steps=$1 target=$2 i
  shift 2
  for ((i = 0; i < steps; i++)); do
    if [[ $target == -* ]]; then
      [[ -n $(group_members "${target#-}") ]] || return 0
    else
      "$@" "$target" || return 0
    fi
    sleep 0.02
  done
  return 1
}

# stop_group PID TEST...: stops PID with its process group (PID leads one when
# start_polled or a daemon's own setsid made it), or PID alone when it leads
# none: TERM, up to 10 s for all to go, then KILL. TEST... is a command that
# gets a pid appended; nothing is signalled unless a live member passes it,
# so a stale pid file cannot make it kill a stranger. While a group has
# members its id cannot be given to a new process, so once one member passed,
# the whole group stays ours. Returns 1 when something outlives the KILL.
stop_group() {
  local pid=$1 members target p ours=0
  shift
  (($#)) || { echo "stop_group: no test of ownership" >&2; return 1; }
  [[ $pid =~ ^[1-9][0-9]*$ ]] || return 0
  members=$(group_members "$pid")
  if [[ -n $members ]]; then target=-$pid; else members=$pid target=$pid; fi
  for p in $members; do
    if "$@" "$p"; then ours=1; break; fi
  done
  ((ours)) || return 0
  kill -TERM -- "$target" 2>/dev/null || true
  gone_within 500 "$target" "$@" && return 0
  kill -KILL -- "$target" 2>/dev/null || true
  gone_within 250 "$target" "$@" && return 0
  echo "${0##*/}: process $pid (or its group) does not stop" >&2
  return 1
}
