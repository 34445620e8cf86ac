#!/usr/bin/env bash
# Builds the package from a finished build tree, checks its control data and
# file list, unpacks it with dpkg -x and runs what it holds:
#   - RUVO offscreen against reader-sim, as a user who cannot write the
#     unpacked program directory: the readings must land in that user's
#     $XDG_DATA_HOME/RUVO/Data, and nothing next to the program;
#   - ruvo-link against the same reader;
#   - (as root only) RUVO as a user outside the port's group: the status and
#     Events.log must say which group and how to join it.
# Prints "N passed, N failed" and exits non-zero on any failure.
set -uo pipefail
BUILD=$(cd "$1" && pwd)
passed=0; failed=0
ok()   { echo "PASS: $*"; passed=$((passed + 1)); }
bad()  { echo "FAIL: $*"; failed=$((failed + 1)); }
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }

SCRATCH=$(mktemp -d /tmp/ruvo-package.XXXXXX)
chmod 755 "$SCRATCH"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

# 1. Build the package into the scratch directory.
if ! (cd "$BUILD" && cpack -G DEB -B "$SCRATCH/cpack" -D CPACK_OUTPUT_FILE_PREFIX="$SCRATCH/out" >"$SCRATCH/cpack.log" 2>&1); then
  cat "$SCRATCH/cpack.log"; bad "cpack builds the package"; echo "$passed passed, $failed failed"; exit 1
fi
DEB=$(ls "$SCRATCH"/out/ruvo_*.deb 2>/dev/null | head -n1)
check "cpack builds ruvo_<version>_<arch>.deb" test -f "$DEB"

# 2. Control data: the Qt runtime it needs, nothing from -dev.
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $DEPENDS"
for need in libqt6core6 libqt6gui6 libqt6widgets6 libqt6sql6 libqt6sql6-sqlite libqt6serialport6 libqt6charts6 libc6; do
  check "depends on $need" grep -qE "(^|, )$need( |,|$)" <<<"$DEPENDS"
done
check "depends on no -dev package" bash -c '! grep -qE -- "-dev( |,|$)" <<<"$1"' _ "$DEPENDS"
check "version is the build's" test "$(dpkg-deb -f "$DEB" Version)" = "$(sed -n 's/^CPACK_PACKAGE_VERSION:.*=//p;s/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt" | head -n1)"
dpkg-deb -c "$DEB" | awk '{print $6}' >"$SCRATCH/files"
for f in ./usr/bin/RUVO ./usr/bin/ruvo-link ./usr/bin/reader-sim ./usr/share/applications/ruvo.desktop \
         ./usr/share/icons/hicolor/scalable/apps/ruvo.svg ./usr/share/man/man1/ruvo-link.1.gz ./usr/share/man/man1/reader-sim.1.gz \
         ./usr/share/ruvo/sql/ruvo-roles.sql; do
  check "package holds $f" grep -qx -- "$f" "$SCRATCH/files"
done

# 3. Unpack.
ROOT=$SCRATCH/root
dpkg -x "$DEB" "$ROOT"
BIN=$ROOT/usr/bin
check "desktop entry starts RUVO" grep -qx 'Exec=RUVO' "$ROOT/usr/share/applications/ruvo.desktop"

# Who runs the programs: as root, the unprivileged "nobody" (root writes
# anywhere, so it would not show the read-only program directory); as
# anyone else, the user itself with the unpacked tree made read-only.
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1 && command -v runuser >/dev/null; then
  AS=(runuser -u nobody --)
  RUN_USER=nobody
else
  AS=()
  RUN_USER=$(id -un)
  chmod -R a-w "$ROOT"
fi
HOME_DIR=$SCRATCH/home
mkdir -p "$HOME_DIR/data" "$HOME_DIR/config" "$HOME_DIR/run"
chmod 700 "$HOME_DIR/run"
[ "$RUN_USER" = "$(id -un)" ] || chown -R "$RUN_USER" "$HOME_DIR"
ENV=(env -u RUVO_PROGRAM_DIR HOME="$HOME_DIR" XDG_DATA_HOME="$HOME_DIR/data" XDG_CONFIG_HOME="$HOME_DIR/config"
     XDG_RUNTIME_DIR="$HOME_DIR/run" QT_QPA_PLATFORM=offscreen)

start_sim() {  # start_sim LINK [runner...]: reader-sim with 25 readings, symlinked at LINK
  local link=$1; shift
  "$@" "$BIN/reader-sim" --records 25 --link "$link" --exit-on-eof <"$SCRATCH/sim-in" >"$SCRATCH/sim.out" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 50); do [ -e "$link" ] && return 0; sleep 0.1; done
  cat "$SCRATCH/sim.out"; return 1
}
write_ini() {  # write_ini PORT
  printf '[TRS232]\r\nCommPort_PortName=%s\r\nCB_ComPort_ItemIndex=-1\r\n' "$1" >"$HOME_DIR/config/RUVO.INI"
  [ "$RUN_USER" = "$(id -un)" ] || chown "$RUN_USER" "$HOME_DIR/config/RUVO.INI"
}

# 4. The monitor from the package, against the simulated reader.
mkfifo "$SCRATCH/sim-in"; exec 7<>"$SCRATCH/sim-in"
TTY=$HOME_DIR/ttyREADER
check "reader-sim from the package starts" start_sim "$TTY" "${AS[@]}" "${ENV[@]}"
write_ini "$TTY"
"${AS[@]}" "${ENV[@]}" RUVO_EXIT_AFTER_MS=9000 "$BIN/RUVO" EVENTSLOG >"$SCRATCH/monitor.out" 2>&1
status=$?
cat "$SCRATCH/monitor.out" | grep -E '^RUVO:' || true
check "RUVO from the package ends with status 0" test "$status" -eq 0
check "all 25 readings land in \$XDG_DATA_HOME/RUVO/Data" \
  grep -qx "RUVO: Measures holds 25 readings in $HOME_DIR/data/RUVO/Data" "$SCRATCH/monitor.out"
check "the tables are in the data directory" test -f "$HOME_DIR/data/RUVO/Data/Measures.DB"
check "Events.log names the data directory and why" \
  bash -c 'iconv -f CP1251 -t UTF-8 "$1" | grep -q "Каталог данных: $2 (каталог программы недоступен для записи)"' _ \
  "$HOME_DIR/data/RUVO/Events.log" "$HOME_DIR/data/RUVO/"
check "nothing is written next to the program" test -z "$(ls -A "$BIN" | grep -vxE 'RUVO|ruvo-link|ruvo-migrate|reader-sim')"

# 5. ruvo-link from the package, against the same reader.
"${AS[@]}" "${ENV[@]}" "$BIN/ruvo-link" --port "$TTY" read-record 25 >"$SCRATCH/link.out" 2>&1
status=$?
check "ruvo-link from the package reads record 25" \
  bash -c '[ "$1" -eq 0 ] && grep -q "\"Ok\": true" "$2" && grep -q "\"RecordNumber\": 25" "$2"' _ "$status" "$SCRATCH/link.out"
echo quit >&7
wait "${PIDS[@]}" 2>/dev/null; PIDS=()

# 6. A port of a group the user is not in (only root can hand a device to a
# group): the monitor says which group and how to join it.
if [ "$RUN_USER" = nobody ] && getent group dialout >/dev/null; then
  TTY2=$SCRATCH/ttyROOT
  check "reader-sim starts as root" start_sim "$TTY2"
  REAL=$(readlink -f "$TTY2")
  chgrp dialout "$REAL" && chmod 660 "$REAL"
  write_ini "$REAL"
  rm -f "$HOME_DIR/data/RUVO/Events.log"
  "${AS[@]}" "${ENV[@]}" RUVO_EXIT_AFTER_MS=3000 "$BIN/RUVO" EVENTSLOG >"$SCRATCH/monitor2.out" 2>&1
  check "a port of another group: Events.log names the group and the command" \
    bash -c 'iconv -f CP1251 -t UTF-8 "$1" | grep -q "пользователь nobody не входит в группу dialout.*usermod -aG dialout nobody"' _ \
    "$HOME_DIR/data/RUVO/Events.log"
  echo quit >&7
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
