#!/usr/bin/env bash
# End-to-end tests of Setup_Quarvel.exe under Wine.
#
#   wine-e2e.sh setup        make the test kits, build a launcher around each
#                            (cmake --preset win32 -DKIT_DIR=..., a build dir
#                            of its own) and boot the template prefix
#   wine-e2e.sh case NAME    run one case in a fresh copy of the template
#
# Environment (set by ctest): QUARVEL_SOURCE_DIR, QUARVEL_BUILD_DIR (the win32
# build with probe_setup.exe and wine_helper.exe), QUARVEL_KITPACK (native).
# Everything goes to $QUARVEL_BUILD_DIR/wine-e2e; screenshots of the error
# report are saved there as well.
set -euo pipefail

src=${QUARVEL_SOURCE_DIR:?}
build=${QUARVEL_BUILD_DIR:?}
kitpack=${QUARVEL_KITPACK:?}
work=$build/wine-e2e
bin=$build/bin
# The Windows user name Wine chose for the prefix's user folder.
wine_user() {
  local dir
  for dir in "$1"/drive_c/users/*; do
    [ "$(basename "$dir")" = Public ] || { basename "$dir"; return; }
  done
}

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
export LC_ALL=C.UTF-8
# Without a display a message box returns at once; only the Xvfb cases set one.
unset DISPLAY WAYLAND_DISPLAY

kit_names=(Quarvel.ex_ Quarvel.ch_ Liesmich.txt Beispiel.dbqrv TrickTip.tx_
  Vertrag.txt eztw32.DL_ gdiplus.dl_ Setup.ex_ Setup.lst)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# ---------------------------------------------------------------- setup ----

make_kits() {
  local kits=$work/kits
  rm -rf "$kits" && mkdir -p "$kits/full"
  local full=$kits/full
  # Random bytes, sizes around and across the 32 KiB buffer of the decoder.
  local sizes=(70000 1 300 0 32768 5000 32769 1234)
  local i
  for i in 0 1 2 3 4 5 6 7; do
    head -c "${sizes[$i]}" /dev/urandom >"$full/${kit_names[$i]}"
  done
  "$kitpack" pack "$bin/probe_setup.exe" "$full/Setup.ex_"
  printf '[General]\r\nTitle=Prüfkit\r\n[Files]\r\nLiesmich.txt=Liesmich.txt\r\n' >"$full/Setup.lst"

  cp -a "$full" "$kits/no-test4" && rm "$kits/no-test4/Beispiel.dbqrv"
  cp -a "$full" "$kits/plain-test9" && cp "$bin/probe_setup.exe" "$kits/plain-test9/Setup.ex_"
  cp -a "$full" "$kits/short-test9"
  head -c $(($(stat -c %s "$full/Setup.ex_") / 2)) "$full/Setup.ex_" >"$kits/short-test9/Setup.ex_"
  # A compressed file that decodes fine to something that is no program.
  cp -a "$full" "$kits/bad-program"
  head -c 5000 /dev/urandom >"$work/not-a-program"
  "$kitpack" pack "$work/not-a-program" "$kits/bad-program/Setup.ex_"
}

build_launcher() {  # kit [cmake options...]
  local kit=$1
  shift
  local dir=$work/build-$kit
  (cd "$src" && cmake --preset win32 -B "$dir" -DKIT_DIR="$work/kits/$kit" -DQUARVEL_TESTS=OFF \
    "$@" >"$work/build-$kit.log") || fail "configure for kit $kit (see $work/build-$kit.log)"
  cmake --build "$dir" --target Setup_Quarvel -j2 >>"$work/build-$kit.log" ||
    fail "build for kit $kit (see $work/build-$kit.log)"
}

boot_template() {
  rm -rf "$work/template"
  WINEPREFIX=$work/template wineboot -i >/dev/null 2>&1
  WINEPREFIX=$work/template wineserver -w
  local user
  user=$(wine_user "$work/template")
  [ -d "$work/template/drive_c/users/$user/Temp" ] || fail "template prefix has no Temp folder"
}

setup() {
  [ -x "$kitpack" ] || fail "no native kitpack at $kitpack (build the native preset first)"
  mkdir -p "$work"
  rm -rf "$work/cases"
  boot_template &
  local boot=$!
  make_kits
  build_launcher full
  build_launcher no-test4 -DKIT_ALLOW_MISSING=ON
  build_launcher plain-test9
  build_launcher short-test9
  build_launcher bad-program
  wait "$boot" || fail "booting the template prefix"
  # A missing file is a configure error that names it.
  if (cd "$src" && cmake --preset win32 -B "$work/build-refused" -DKIT_DIR="$work/kits/no-test4" \
    -DQUARVEL_TESTS=OFF >"$work/build-refused.log" 2>&1); then
    fail "a kit without Beispiel.dbqrv was accepted"
  fi
  grep -q 'Beispiel.dbqrv' "$work/build-refused.log" || fail "configure error does not name the file"
  rm -rf "$work/build-refused"
}

# ---------------------------------------------------------------- cases ----

# A fresh prefix: the big, read-only Windows folder is shared by hard links,
# the registry and the user folders are copied.
new_prefix() {
  prefix=$work/cases/$1/prefix
  release_mounts "$work/cases/$1"
  rm -rf "$work/cases/$1" && mkdir -p "$prefix/drive_c"
  local entry
  for entry in "$work/template"/* "$work/template"/.update-timestamp; do
    [ "$(basename "$entry")" = drive_c ] || cp -a "$entry" "$prefix/"
  done
  for entry in "$work/template/drive_c"/*; do
    if [ "$(basename "$entry")" = windows ]; then cp -al "$entry" "$prefix/drive_c/"; else cp -a "$entry" "$prefix/drive_c/"; fi
  done
  export WINEPREFIX=$prefix
  staging=$prefix/drive_c/users/$user/Temp/Inst-Setup_Quarvel
  trap 'wineserver -k 2>/dev/null || true' EXIT
}

# Unmounts what a case that was killed left mounted below $1.
release_mounts() {
  local point
  while read -r _ point _; do
    case $point in "$1"/*) umount "$point" 2>/dev/null || umount -l "$point" ;; esac
  done </proc/mounts
}

launcher_of() { echo "$work/build-$1/bin/Setup_Quarvel.exe"; }

# Runs the launcher, waits for everything it started, sets $status.
run_launcher() {
  status=0
  wine "$1" || status=$?
  wineserver -w
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "exit code $status, expected $1"
}

# The staging folder holds the ten items of kit $1 byte for byte.
expect_kit_staged() {
  local name
  for name in "${kit_names[@]}"; do
    cmp "$work/kits/$1/$name" "$staging/$name" || fail "$name differs from the kit"
  done
}

expect_not_started() {
  [ ! -e "$staging/probe-run.txt" ] || fail "an installer was started: $(cat "$staging/probe-run.txt")"
}

expect_no_setup_exe() {
  [ ! -e "$staging/Setup.exe" ] || fail "Setup.exe exists"
}

# The probe installer ran once, in `folder` (Windows path), without
# parameters and with show state 5.
expect_probe_run() {  # windows-folder
  local record=$staging/probe-run.txt
  [ -f "$record" ] || fail "the installer did not run"
  grep -qxF "cwd=$1" "$record" || fail "working folder: $(grep ^cwd= "$record"), expected $1"
  grep -qx 'args=' "$record" || fail "parameters given: $(grep ^args= "$record")"
  grep -qx 'show=5' "$record" || fail "show state: $(grep ^show= "$record")"
}


case_stage() {
  new_prefix stage
  run_launcher "$(launcher_of full)"
  expect_status 0
  expect_kit_staged full
  cmp "$bin/probe_setup.exe" "$staging/Setup.exe" || fail "Setup.exe is not the decoded installer"
  [ -f "$staging/Beispiel.dbqrv" ] && [ ! -s "$staging/Beispiel.dbqrv" ] || fail "empty item not empty"
  expect_probe_run "$staging_win"
}

case_rerun() {
  new_prefix rerun
  run_launcher "$(launcher_of full)"
  expect_status 0
  local name
  for name in "${kit_names[@]}" Setup.exe; do
    printf 'left over from an earlier run, longer than some items' >"$staging/$name"
  done
  rm "$staging/probe-run.txt"
  run_launcher "$(launcher_of full)"
  expect_status 0
  expect_kit_staged full
  cmp "$bin/probe_setup.exe" "$staging/Setup.exe" || fail "Setup.exe was not replaced"
  expect_probe_run "$staging_win"
}

case_missing_item() {
  new_prefix missing_item
  run_launcher "$(launcher_of no-test4)"
  expect_status 1
  local i
  for i in 0 1 2; do
    cmp "$work/kits/no-test4/${kit_names[$i]}" "$staging/${kit_names[$i]}" || fail "${kit_names[$i]}"
  done
  for i in 3 4 5 6 7 8 9; do
    [ ! -e "$staging/${kit_names[$i]}" ] || fail "${kit_names[$i]} written after the missing item"
  done
  expect_no_setup_exe
  expect_not_started
}

case_plain_installer() {
  new_prefix plain_installer
  run_launcher "$(launcher_of plain-test9)"
  expect_status 1
  expect_kit_staged plain-test9
  expect_no_setup_exe
  expect_not_started
}

case_short_installer() {
  new_prefix short_installer
  run_launcher "$(launcher_of short-test9)"
  expect_status 1
  expect_kit_staged short-test9
  expect_no_setup_exe
  expect_not_started
}

# A file where the staging folder should be: the first item cannot be
# created, and that is reported by its path.
case_blocked_folder() {
  new_prefix blocked_folder
  printf 'not a folder' >"$staging"
  run_launcher "$(launcher_of full)"
  expect_status 1
  [ "$(cat "$staging")" = 'not a folder' ] || fail "the file in the way was changed"
}

# An old Setup.exe that another process holds open cannot be replaced, and
# must not be started: neither when the holder shares nothing nor when it
# shares reading (then the old file could still be started).
case_held_installer() {
  new_prefix held_installer
  local share
  for share in none read; do
    mkdir -p "$staging"
    cp "$bin/probe_setup.exe" "$staging/Setup.exe"
    rm -f "$staging/probe-run.txt" "$prefix/drive_c/held" "$prefix/drive_c/release"
    local old
    old=$(sha256sum <"$staging/Setup.exe")
    wine "$bin/wine_helper.exe" hold "$staging_win\\Setup.exe" 'C:\held' 'C:\release' $share &
    local holder=$!
    local i
    for i in $(seq 100); do [ -e "$prefix/drive_c/held" ] && break; sleep 0.1; done
    [ -e "$prefix/drive_c/held" ] || fail "the helper could not hold Setup.exe"
    status=0
    wine "$(launcher_of full)" || status=$?
    touch "$prefix/drive_c/release"
    wait "$holder"
    wineserver -w
    expect_status 1
    expect_kit_staged full
    [ "$(sha256sum <"$staging/Setup.exe")" = "$old" ] || fail "the held Setup.exe was changed ($share)"
    expect_not_started
  done
}

# The DLL search is limited to the system folder before anything else.
case_dll_search() {
  new_prefix dll_search
  WINEDEBUG=+relay wine "$(launcher_of full)" 2>"$prefix/../relay.log" || fail "the launcher failed"
  wineserver -w
  # The launcher's thread is the one that looks the function up; its own
  # calls return into its image at 0x00400000.
  local own=$prefix/../own-calls.log thread limit first
  thread=$(grep -m1 'GetProcAddress(.*"SetDefaultDllDirectories")' "$prefix/../relay.log" | cut -d: -f1)
  [ -n "$thread" ] || fail "SetDefaultDllDirectories was never looked up"
  grep -E "^$thread:Call .* ret=004[0-9a-f]{5}\$" "$prefix/../relay.log" >"$own" || true
  limit=$(grep -n -m1 'KERNEL32.SetDefaultDllDirectories(00000800)' "$own" | cut -d: -f1)
  first=$(grep -n -m1 -E 'KERNEL32\.(GetTempPathA|FindResourceA|CreateFileA)\(' "$own" | cut -d: -f1)
  [ -n "$limit" ] || fail "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) was not called"
  [ -n "$first" ] && [ "$limit" -lt "$first" ] || fail "the DLL search was limited too late"
  rm -f "$prefix/../relay.log"
}

# Runs the launcher under Xvfb, reads the report box, saves a screenshot as
# $work/$2.png and closes the box with the keyboard. Sets $status and $box.
run_with_report_window() {  # launcher shot-name
  local out=$prefix/..
  xvfb-run -a -s '-screen 0 1024x768x24' bash -euo pipefail -c '
    wine "$1" & launcher=$!
    wine "$2" read-box Anwendungsfehler "C:\\box.txt" || echo "read-box failed: $?" >&2
    window=$(xdotool search --sync --name "^Anwendungsfehler\$" | head -n1)
    import -window root "$3"
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    xdotool key --clearmodifiers Return
    status=0
    wait "$launcher" || status=$?
    echo "$status" >"$4"
  ' _ "$1" "$bin/wine_helper.exe" "$work/$2.png" "$out/status" || fail "running under Xvfb"
  wineserver -w
  status=$(cat "$out/status")
  box=$(cat "$prefix/drive_c/box.txt" 2>/dev/null) || fail "no report box was found"
}

case_report_window() {
  command -v xvfb-run >/dev/null || fail "xvfb-run is missing"
  new_prefix report_window
  run_with_report_window "$(launcher_of no-test4)" fatal-report-missing-item
  expect_status 1
  local first second
  first=$(sed -n 1p <<<"$box")
  second=$(sed -n 2p <<<"$box")
  [[ $first =~ ^Exception\ EResNotFound\ in\ Modul\ Setup_Quarvel\.exe\ bei\ [0-9A-F]{8}\.$ ]] ||
    fail "first line: $first"
  [ "$second" = "Ressource Test4 nicht gefunden." ] || fail "second line: $second"
  [ "$(wc -l <<<"$box")" -eq 2 ] || fail "more than two lines: $box"
}

# An installer that decodes but cannot be started is reported as EOSError;
# with a temporary folder outside the old code page, so the box also shows
# that such paths come through the ANSI functions intact.
case_start_failure() {
  command -v xvfb-run >/dev/null || fail "xvfb-run is missing"
  new_prefix start_failure
  set_temp 'C:\Temp-Größe-Ωμέγα-日本'
  staging=$prefix/drive_c/Temp-Größe-Ωμέγα-日本/Inst-Setup_Quarvel
  run_with_report_window "$(launcher_of bad-program)" fatal-report-start-failure
  expect_status 1
  expect_kit_staged bad-program
  local expected='Das Programm C:\Temp-Größe-Ωμέγα-日本\Inst-Setup_Quarvel\Setup.exe kann nicht gestartet werden (Fehler '
  [[ $(sed -n 1p <<<"$box") =~ ^Exception\ EOSError\ in\ Modul\ Setup_Quarvel\.exe\ bei\ [0-9A-F]{8}\.$ ]] ||
    fail "first line: $(sed -n 1p <<<"$box")"
  [[ $(sed -n 2p <<<"$box") == "$expected"[0-9]*")." ]] || fail "second line: $(sed -n 2p <<<"$box")"
}

set_temp() {
  wine reg add 'HKCU\Environment' /v TEMP /t REG_SZ /d "$1" /f >/dev/null
  wine reg add 'HKCU\Environment' /v TMP /t REG_SZ /d "$1" /f >/dev/null
  wineserver -w
}

case_non_ascii_temp() {
  new_prefix non_ascii_temp
  local folder='C:\users\'$user'\Temp\Übergröße-Ωμέγα-日本'
  set_temp "$folder"
  staging=$prefix/drive_c/users/$user/Temp/Übergröße-Ωμέγα-日本/Inst-Setup_Quarvel
  run_launcher "$(launcher_of full)"
  expect_status 0
  expect_kit_staged full
  cmp "$bin/probe_setup.exe" "$staging/Setup.exe" || fail "Setup.exe is not the decoded installer"
  expect_probe_run "$folder\\Inst-Setup_Quarvel"
}

# The string table holds the German texts as written, umlauts included.
case_strings() {
  new_prefix strings
  wine "$bin/wine_helper.exe" strings "$(launcher_of full)" 100 108 'C:\strings.txt' ||
    fail "reading the string table"
  diff - "$prefix/drive_c/strings.txt" <<'EOF' || fail "string table differs"
100=Anwendungsfehler
101=Exception %s in Modul %s bei %p.\n%s%s
102=Ressource %s nicht gefunden
103=Datei %s kann nicht erstellt werden
104=Stream-Write-Fehler
105=Das Verzeichnis kann nicht erstellt werden
106=Der temporäre Ordner kann nicht ermittelt werden.
107=Das Programm %s kann nicht gestartet werden (Fehler %d).
108=Zu wenig Arbeitsspeicher
EOF
}

# The demo kit: its installer puts every listed item into the demo folder,
# decoded to the bytes it was packed from, and logs each.
case_demo() {
  local launcher=$bin/Setup_Quarvel.exe
  if [ "${QUARVEL_DEMO_KIT:-}" != ON ]; then
    echo "SKIP: this build carries a kit of its own, not the demo kit"
    exit 77
  fi
  new_prefix demo
  run_launcher "$launcher"
  expect_status 0
  local installed=$prefix/drive_c/users/$user/AppData/Local/Quarvel-Demo
  local log=$installed/install.log
  [ -f "$log" ] || fail "no install log"
  cat "$log"
  local source name target
  while IFS='|' read -r source name target; do
    cmp "$src/kit/items/$source" "$installed/$target" || fail "$target differs from kit/items/$source"
    grep -q " $name -> $target, " "$log" || fail "$name not in the log"
  done <<'EOF'
main-program.txt|Quarvel.ex_|Quarvel.exe
help.txt|Quarvel.ch_|Quarvel.chm
Liesmich.txt|Liesmich.txt|Liesmich.txt
Beispiel.dbqrv|Beispiel.dbqrv|Beispiel.dbqrv
TrickTip.txt|TrickTip.tx_|TrickTip.txt
Vertrag.txt|Vertrag.txt|Vertrag.txt
scanner-library.txt|eztw32.DL_|eztw32.dll
graphics-library.txt|gdiplus.dl_|gdiplus.dll
EOF
  grep -q '^done: 8 installed, 0 failed' "$log" || fail "the log does not end in success"
}

# ------------------------------------------------------------ stress ----
#
# What the user sees shows in a relay trace of just two calls: MessageBoxA
# (the report, with its text) and ShellExecuteA (every start asked of the
# shell). The probe installer keeps a copy of the file it was started from
# for every start (C:\probe-starts), so that each start can be counted and
# checked byte for byte.

# Before the prefix's first Wine run: trace only those two calls.
trace_report_and_start() {
  printf '\n[Software\\\\Wine\\\\Debug] 1700000000\n"RelayInclude"="%s"\n' \
    'user32.MessageBoxA;shell32.ShellExecuteA' >>"$prefix/user.reg"
  trace=$prefix/../trace.log
  : >"$trace"
}

# Like run_launcher, with the trace appended to $trace.
run_traced() {  # program [arguments...]
  status=0
  WINEDEBUG=-all,+relay wine "$@" 2>>"$trace" || status=$?
  wineserver -w
}

# The texts of the reports shown, two lines each, unquoted.
reports() {
  sed -n 's/^[0-9a-f]*:Call user32\.MessageBoxA([0-9a-f]*,[0-9a-f]* "\(.*\)",[0-9a-f]* "Anwendungsfehler",[0-9a-f]*) ret=[0-9a-f]*$/\1/p' \
    "$trace" | perl -pe 's/\\(.)/$1 eq "n" ? "\n" : $1/ge'
}

shell_starts() { grep -c ':Call shell32\.ShellExecuteA(' "$trace" || true; }

# Exactly one report: class $1, second line $2.
expect_report() {  # class second-line
  local text
  text=$(reports)
  [ "$(grep -c '^Exception ' <<<"$text")" -eq 1 ] || fail "not one report but: ${text:-none}"
  [[ $(sed -n 1p <<<"$text") =~ ^Exception\ $1\ in\ Modul\ Setup_Quarvel\.exe\ bei\ [0-9A-F]{8}\.$ ]] ||
    fail "first line: $(sed -n 1p <<<"$text")"
  [ "$(sed -n 2p <<<"$text")" = "$2" ] || fail "second line: $(sed -n 2p <<<"$text"), expected $2"
}

# The starts the probe recorded, each checked to be the whole installer as
# it was when it started; prints their number.
probe_starts() {
  local copy count=0
  for copy in "$prefix/drive_c/probe-starts"/*; do
    [ -e "$copy" ] || continue
    [[ $copy == *.exe ]] || fail "an installer started from a file it could not read: $copy"
    cmp -s "$bin/probe_setup.exe" "$copy" || fail "an incomplete or wrong Setup.exe was started"
    count=$((count + 1))
  done
  echo "$count"
}

# After a failure: nothing asked of the shell, no installer ran.
expect_nothing_started() {
  [ "$(shell_starts)" -eq 0 ] || fail "the shell was asked to start something"
  [ "$(probe_starts)" -eq 0 ] || fail "an installer ran"
}

# A folder under the temporary folder cannot be made: the temporary folder
# is on a read-only file system (which binds root too; skipped where nothing
# can be mounted), or a file stands where one of its parents should be. The
# first item's create error names the path, and nothing is made.
case_unmakeable_folder() {
  new_prefix unmakeable_folder
  trace_report_and_start
  local temp=$prefix/drive_c/users/$user/Temp
  if mount -t tmpfs -o ro,size=64k tmpfs "$temp" 2>/dev/null; then
    run_traced "$(launcher_of full)"
    umount "$temp"
    expect_status 1
    expect_report EFCreateError "Datei $staging_win\\Quarvel.ex_ kann nicht erstellt werden."
    expect_nothing_started
    : >"$trace"
  else
    echo "cannot mount a read-only file system here: that half is skipped"
  fi
  printf 'a file, not a folder' >"$prefix/drive_c/blocker"
  set_temp 'C:\blocker\Temp'
  run_traced "$(launcher_of full)"
  expect_status 1
  expect_report EFCreateError 'Datei C:\blocker\Temp\Inst-Setup_Quarvel\Quarvel.ex_ kann nicht erstellt werden.'
  [ "$(cat "$prefix/drive_c/blocker")" = 'a file, not a folder' ] || fail "the file in the way was changed"
  [ ! -e "$prefix/drive_c/blocker/Temp" ] || fail "something was made under the file"
  expect_nothing_started
}

# An item file that another process holds open without sharing: that item
# cannot be written, the items before it are, nothing is started (not even
# the Setup.exe of the earlier run), and the held file keeps what it had.
case_held_item() {
  new_prefix held_item
  trace_report_and_start
  run_traced "$(launcher_of full)"
  expect_status 0
  rm -rf "$staging/probe-run.txt" "$prefix/drive_c/probe-starts"
  : >"$trace"
  printf 'held by another program' >"$staging/Liesmich.txt"
  wine "$bin/wine_helper.exe" hold "$staging_win\\Liesmich.txt" 'C:\held' 'C:\release' none &
  local holder=$! i
  for i in $(seq 100); do [ -e "$prefix/drive_c/held" ] && break; sleep 0.1; done
  [ -e "$prefix/drive_c/held" ] || fail "the helper could not hold Liesmich.txt"
  status=0
  WINEDEBUG=-all,+relay wine "$(launcher_of full)" 2>>"$trace" || status=$?
  touch "$prefix/drive_c/release"
  wait "$holder"
  wineserver -w
  expect_status 1
  expect_report EFCreateError "Datei $staging_win\\Liesmich.txt kann nicht erstellt werden."
  [ "$(cat "$staging/Liesmich.txt")" = 'held by another program' ] || fail "the held item was changed"
  cmp "$work/kits/full/Quarvel.ex_" "$staging/Quarvel.ex_" || fail "the first item was not written"
  expect_not_started
  expect_nothing_started
}

# The staging folder on a small file system of its own (tmpfs), so that the
# disk fills up. Needs root and the right to mount; skipped otherwise (the
# native fault matrices fail the writes instead).
mount_small_staging() {  # size-in-bytes
  mkdir -p "$staging"
  mount -t tmpfs -o "size=$1" tmpfs "$staging" 2>/dev/null || {
    echo "SKIP: cannot mount a small file system here"
    exit 77
  }
  trap 'wineserver -k 2>/dev/null || true; umount "$staging" 2>/dev/null || umount -l "$staging"' EXIT
}

pages() {  # bytes of the files given, counted in 4 KiB pages as tmpfs does
  local total=0 f size
  for f in "$@"; do
    size=$(stat -c %s "$f")
    total=$((total + (size + 4095) / 4096))
  done
  echo $((total * 4096))
}

# The disk fills during the extraction: the launcher stops with the write
# error (nothing is started); the items before stay, the one being written
# holds what fitted, the later ones are not written.
case_disk_full_items() {
  new_prefix disk_full_items
  trace_report_and_start
  local kit=$work/kits/full i part
  # Room for the first item and a little more, not for the rest: items 2 to
  # 4 take two pages, item 5 (TrickTip.tx_, 32 KiB) gets the other two.
  mount_small_staging "$(($(pages "$kit/Quarvel.ex_") + 16384))"
  run_traced "$(launcher_of full)"
  expect_status 1
  expect_report EWriteError "Stream-Write-Fehler."
  for i in 0 1 2 3; do
    cmp "$kit/${kit_names[$i]}" "$staging/${kit_names[$i]}" || fail "${kit_names[$i]} is not complete"
  done
  part=$(stat -c %s "$staging/TrickTip.tx_")
  [ "$part" -lt "$(stat -c %s "$kit/TrickTip.tx_")" ] && cmp -s -n "$part" "$kit/TrickTip.tx_" "$staging/TrickTip.tx_" ||
    fail "TrickTip.tx_ does not hold what fitted ($part bytes)"
  for i in 5 6 7 8 9; do
    [ ! -e "$staging/${kit_names[$i]}" ] || fail "${kit_names[$i]} written after the disk was full"
  done
  expect_no_setup_exe
  expect_not_started
  expect_nothing_started
}

# The disk fills while the installer is decoded: the partial Setup.exe is
# deleted and nothing is started; every item was written.
case_disk_full_decode() {
  new_prefix disk_full_decode
  trace_report_and_start
  local kit=$work/kits/full files=() name
  for name in "${kit_names[@]}"; do files+=("$kit/$name"); done
  # Every item, and half of the decoded installer.
  mount_small_staging "$(($(pages "${files[@]}") + $(pages "$bin/probe_setup.exe") / 2))"
  run_traced "$(launcher_of full)"
  expect_status 1
  expect_report ELzrw1Exception "Lzrw1 : ERROR WRITING TO $staging_win\\Setup.exe !."
  expect_kit_staged full
  expect_no_setup_exe
  expect_not_started
  expect_nothing_started
}

# Two launchers let loose at the same moment (created suspended, then
# resumed together): each ends with 0 and one start, or with the report and
# 1 (the other one held a file it needed, Setup.exe included: then the shell
# cannot open it and the report is EOSError); every installer that started
# was the whole decoded one as it started; the folder ends up with the kit.
# Repeated a few times, the timing differs each round.
case_two_at_once() {
  new_prefix two_at_once
  trace_report_and_start
  local launcher round code successes failures text
  launcher="Z:$(launcher_of full | tr / '\\')"
  for round in 1 2 3; do
    rm -rf "$staging/probe-run.txt" "$prefix/drive_c/probe-starts"
    : >"$trace"
    run_traced "$bin/wine_helper.exe" together 'C:\codes.txt' "$launcher" "$launcher"
    expect_status 0
    successes=0 failures=0
    while read -r code; do
      case ${code%$'\r'} in
        0) successes=$((successes + 1)) ;;
        1) failures=$((failures + 1)) ;;
        *) fail "round $round: a launcher ended with $code" ;;
      esac
    done <"$prefix/drive_c/codes.txt"
    text=$(reports)
    echo "round $round: $successes started, $failures reported${text:+:}"
    [ -z "$text" ] || echo "$text"
    [ "$successes" -ge 1 ] || fail "round $round: neither launcher got through"
    [ "$(grep -c '^Exception ' <<<"$text")" -eq "$failures" ] || fail "round $round: a failure without report"
    [ "$(probe_starts)" -eq "$successes" ] || fail "round $round: $(probe_starts) installer runs"
    expect_kit_staged full
    cmp "$bin/probe_setup.exe" "$staging/Setup.exe" || fail "round $round: Setup.exe is not whole"
    expect_probe_run "$staging_win"
  done
}

case "${1:-}" in
  setup) setup ;;
  case)
    [ -d "$work/template" ] || fail "run '$0 setup' first"
    user=$(wine_user "$work/template")
    staging_win='C:\users\'$user'\Temp\Inst-Setup_Quarvel'
    "case_${2:?case name}"
    echo "PASS: $2"
    ;;
  *)
    echo "usage: $0 setup | case NAME" >&2
    exit 2
    ;;
esac
