#!/usr/bin/env bash
# Three monitors copy three simulated readers (three bus addresses) into one
# PostgreSQL database, on a throw-away cluster of their own. Mid-copy the
# server is stopped for a few seconds and started again; while it is down,
# one monitor is killed (SIGKILL) with readings waiting in its buffer and
# started again, still without the server. Near the end the server is
# stopped again until two readers are copied to their end. At the end every
# reading of every reader is in the database exactly once, each reader's
# copy position in Devices is its last record, and no buffer holds anything.
#   central_store_e2e.sh BUILD_DIR SOURCE_DIR
# Prints what each monitor copied, held and forwarded; exits non-zero on any
# failure. Whatever happens, no process and no cluster is left behind.
set -uo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
RECORDS=${E2E_RECORDS:-300}
NAMES=(a b c)
ADDRESSES=(1.2.3 1.2.4 1.2.5)
CODES=($((0x010203)) $((0x010204)) $((0x010205)))
PG_STATE=$BUILD/e2e-pg
pg() { bash "$SRC/tests/support/pg_cluster.sh" "$@" "$PG_STATE"; }

SCRATCH=$(mktemp -d /tmp/ruvo-e2e.XXXXXX)
declare -A MON_PID SIM_PID CLOSING
failed=0
started=$(date +%s)

cleanup() {
  for n in "${NAMES[@]}"; do
    [ -n "${MON_PID[$n]:-}" ] && kill -9 "${MON_PID[$n]}" 2>/dev/null
    [ -n "${CLOSING[$n]:-}" ] && kill -9 "${CLOSING[$n]}" 2>/dev/null
    [ -n "${SIM_PID[$n]:-}" ] && kill "${SIM_PID[$n]}" 2>/dev/null
  done
  wait 2>/dev/null
  pg stop >/dev/null 2>&1
  if [ "$failed" -ne 0 ]; then
    for n in "${NAMES[@]}"; do
      echo "---- monitor $n: standard output and error, Events.log (tails)"
      tail -n 10 "$SCRATCH/$n/monitor.out" 2>/dev/null
      iconv -f CP1251 -t UTF-8 "$SCRATCH/$n/program/Events.log" 2>/dev/null | tail -n 10
    done
  fi
  rm -rf "$SCRATCH"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() { echo "FAIL: $*"; failed=1; exit 1; }
ok() { echo "PASS: $*"; }

# poll WHAT SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds;
# fails when a running monitor has ended, or the time (or the run's whole
# budget, kept under CTest's timeout so that the clean-up always runs) is up.
BUDGET_END=$((started + ${E2E_BUDGET:-330}))
poll() {
  local what=$1 limit=$(($(date +%s) + $2)) n
  shift 2
  [ "$limit" -le "$BUDGET_END" ] || limit=$BUDGET_END
  until "$@"; do
    for n in "${NAMES[@]}"; do [ -z "${MON_PID[$n]:-}" ] || alive "$n"; done
    [ "$(date +%s)" -lt "$limit" ] || fail "timed out waiting: $what${POLL_STATE:+ ($($POLL_STATE))}"
    sleep 0.2
  done
}

pg start >/dev/null || fail "the cluster starts"
# shellcheck disable=SC1091
. <(sed 's/^/PG_/' "$PG_STATE/pg.env")
sql() { psql -h "$PG_host" -p "$PG_port" -U "$PG_user" -d "$PG_dbname" -XAtq -c "$1" 2>/dev/null; }
stored() { sql "SELECT count(*) FROM \"Measures\" WHERE \"TarnAddress\" = $1"; }
position() { sql "SELECT \"LastRecNumber\" FROM \"Devices\" WHERE \"TarnAddress\" = $1"; }
buffer_db() { echo "$SCRATCH/$1/program/Data/Buffer.db"; }
waiting() { [ -f "$(buffer_db "$1")" ] && sqlite3 "$(buffer_db "$1")" 'SELECT count(*) FROM "Measures"' 2>/dev/null || echo 0; }
held_ever() { [ -f "$(buffer_db "$1")" ] && sqlite3 "$(buffer_db "$1")" \
  "SELECT coalesce((SELECT seq FROM sqlite_sequence WHERE name = 'Measures'), 0)" 2>/dev/null || echo 0; }

# The readers: paced at 9600 bit/s, so a copy takes tens of seconds.
for i in 0 1 2; do
  n=${NAMES[$i]}
  mkdir -p "$SCRATCH/$n/config" "$SCRATCH/$n/runtime" "$SCRATCH/$n/program"
  chmod 700 "$SCRATCH/$n/runtime"
  "$BUILD/bin/reader-sim" --records "$RECORDS" --address "${ADDRESSES[$i]}" --paced --link "$SCRATCH/$n/tty" \
    >"$SCRATCH/$n/sim.out" 2>&1 </dev/null &
  SIM_PID[$n]=$!
  printf '[TRS232]\r\nCommPort_PortName=%s\r\nCB_ComPort_ItemIndex=-1\r\n[Database]\r\nDriver=QPSQL\r\nHost=%s\r\nPort=%s\r\nName=%s\r\nUser=%s\r\n' \
    "$SCRATCH/$n/tty" "$PG_host" "$PG_port" "$PG_dbname" "$PG_user" >"$SCRATCH/$n/config/RUVO.INI"
done
for n in "${NAMES[@]}"; do poll "reader $n" 10 test -e "$SCRATCH/$n/tty"; done

start_monitor() {
  local n=$1
  env -u RUVO_EXIT_AFTER_MS HOME="$SCRATCH/$n" XDG_CONFIG_HOME="$SCRATCH/$n/config" XDG_RUNTIME_DIR="$SCRATCH/$n/runtime" \
    RUVO_PROGRAM_DIR="$SCRATCH/$n/program" QT_QPA_PLATFORM=offscreen RUVO_UNATTENDED=1 \
    "$BUILD/bin/RUVO" EVENTSLOG >>"$SCRATCH/$n/monitor.out" 2>&1 </dev/null &
  MON_PID[$n]=$!
}
alive() { kill -0 "${MON_PID[$1]}" 2>/dev/null || fail "monitor $1 ended: $(tail -n 3 "$SCRATCH/$1/monitor.out")"; }

# The first monitor makes the tables; the other two start on them.
tables() { [ "$(sql "SELECT count(*) FROM pg_tables WHERE tablename IN ('Measures', 'Devices')")" = 2 ]; }
start_monitor a
poll "the tables" 30 tables
start_monitor b
start_monitor c

# Mid-copy: every reader has a part of its readings in the database.
at_least() { [ "$(stored "$1")" -ge "$2" ] 2>/dev/null; }
part=$((RECORDS / 5))
for i in 0 1 2; do poll "monitor ${NAMES[$i]} copies $part readings" 120 at_least "${CODES[$i]}" "$part"; done
for i in 0 1 2; do
  c=$(stored "${CODES[$i]}")
  [ "$c" -lt "$RECORDS" ] || fail "reader ${NAMES[$i]} was copied whole before the restart; pace it slower"
  echo "before the restart: ${NAMES[$i]} has $c of $RECORDS"
done

# The server goes away; every monitor goes on into its buffer.
pg halt || fail "the server stops"
down_at=$(date +%s)
holds() { [ "$(waiting "$1")" -ge "$2" ]; }
for n in "${NAMES[@]}"; do poll "monitor $n holds readings while the server is down" 30 holds "$n" 3; done
ok "with the server down, every monitor holds readings in its buffer"

# One monitor is killed with readings waiting in its buffer.
kill -9 "${MON_PID[b]}"
wait "${MON_PID[b]}" 2>/dev/null
MON_PID[b]=""
killed_waiting=$(waiting b)
echo "monitor b killed with $killed_waiting readings in its buffer"
# It starts again while the server is still down: it waits for the server
# with its buffer, not with tables of its own.
start_monitor b
held_more() { [ "$(held_ever b)" -gt "$killed_waiting" ]; }
poll "monitor b, started without the server, holds new readings" 30 held_more
[ ! -e "$SCRATCH/b/program/Data/Measures.DB" ] || fail "monitor b, started without the server, made tables of its own"
ok "monitor b, started without the server, holds its readings in its buffer"
pg resume || fail "the server starts again"
echo "the server was down $(($(date +%s) - down_at)) s"

# Near the end the server goes away again, until two readers have been copied
# to their last reading into the buffers: with nothing new on the readers,
# what waits must still reach the server once it is back.
tail=$((RECORDS * 9 / 10))
either_near_end() { at_least "${CODES[0]}" "$tail" || at_least "${CODES[2]}" "$tail"; }
poll "monitor a or c copies $tail readings" 120 either_near_end
declare -A FINISHED
for i in 0 2; do [ "$(position "${CODES[$i]}")" = "$RECORDS" ] && FINISHED[${NAMES[$i]}]=1; done
pg halt || fail "the server stops again"
[ -z "${FINISHED[a]:-}" ] || [ -z "${FINISHED[c]:-}" ] || fail "readers a and c were copied whole before the second stop"
held_position() { [ -n "${FINISHED[$1]:-}" ] \
  || [ "$(sqlite3 "$(buffer_db "$1")" 'SELECT "LastRecNumber" FROM "Devices"' 2>/dev/null)" = "$RECORDS" ]; }
for n in a c; do poll "monitor $n copies its reader to the end into its buffer" 60 held_position "$n"; done
echo "monitors a and c wait with $(waiting a) and $(waiting c) readings for the server"
pg resume || fail "the server starts again"

# The end: every reader copied whole, each reading once, the positions right,
# the buffers forwarded.
complete() {
  local i
  for i in 0 1 2; do
    [ "$(stored "${CODES[$i]}")" -ge "$RECORDS" ] && [ "$(position "${CODES[$i]}")" = "$RECORDS" ] \
      && [ "$(waiting "${NAMES[$i]}")" = 0 ] || return 1
  done
}
state() {
  local i
  for i in 0 1 2; do
    printf '%s: %s stored, position %s, %s waiting; ' "${NAMES[$i]}" "$(stored "${CODES[$i]}")" \
      "$(position "${CODES[$i]}")" "$(waiting "${NAMES[$i]}")"
  done
}
POLL_STATE=state poll "every reading copied and forwarded" 120 complete
for i in 0 1 2; do
  n=${NAMES[$i]}
  c=$(stored "${CODES[$i]}")
  [ "$c" = "$RECORDS" ] || fail "reader $n: $c readings in the database, $RECORDS expected"
  numbers=$(sql "SELECT count(DISTINCT \"RecNumber\") || ' ' || min(\"RecNumber\") || ' ' || max(\"RecNumber\")
                 FROM \"Measures\" WHERE \"TarnAddress\" = ${CODES[$i]}")
  [ "$numbers" = "$RECORDS 1 $RECORDS" ] || fail "reader $n: record numbers (distinct, min, max) are $numbers"
  [ "$(position "${CODES[$i]}")" = "$RECORDS" ] || fail "reader $n: position $(position "${CODES[$i]}")"
  [ "$(sql "SELECT count(*) FROM \"Devices\" WHERE \"TarnAddress\" = ${CODES[$i]}")" = 1 ] \
    || fail "reader $n: not one Devices row"
done
dups=$(sql "SELECT count(*) FROM (SELECT 1 FROM \"Measures\" GROUP BY \"TarnAddress\", \"RecNumber\", \"DateTime\" HAVING count(*) > 1) d")
[ "$dups" = 0 ] || fail "$dups readings are in the database more than once"
total=$(sql 'SELECT count(*) FROM "Measures"')
[ "$total" = $((3 * RECORDS)) ] || fail "the database holds $total readings, $((3 * RECORDS)) expected"
ok "every reading of every reader is in the database once ($total), and every position is the last record"

# The monitors close the ordinary way; their buffers stay empty.
for n in "${NAMES[@]}"; do CLOSING[$n]=${MON_PID[$n]}; MON_PID[$n]=""; kill -TERM "${CLOSING[$n]}"; done
closed() { ! kill -0 "$1" 2>/dev/null || grep -qs '^State:[[:space:]]*Z' "/proc/$1/status"; }
for n in "${NAMES[@]}"; do
  poll "monitor $n closes" 20 closed "${CLOSING[$n]}"
  wait "${CLOSING[$n]}"
  status=$?
  CLOSING[$n]=""
  [ "$status" = 0 ] || fail "monitor $n ended with status $status"
  [ "$(waiting "$n")" = 0 ] || fail "monitor $n's buffer still holds $(waiting "$n") readings"
done
for i in 0 1 2; do
  n=${NAMES[$i]}
  echo "monitor $n: $(stored "${CODES[$i]}") readings of its reader in the database; $(held_ever "$n") held in its buffer" \
       "on the way (a reading the server had already counts, and is not stored again), $(waiting "$n") still there"
done
ok "the monitors closed with empty buffers"
echo "run time $(($(date +%s) - started)) s"
