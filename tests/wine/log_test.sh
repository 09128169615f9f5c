#!/usr/bin/env bash
# The diagnostics log of the Windows build: C:\ProgramData\RUNTRAIL\RUNTRAIL_uippack.log in
# the Wine prefix, written through the named mutex, SHGetFolderPathW and the ANSI code page.
# Run alone (RUN_SERIAL): every case starts from a missing log file.
# shellcheck source=tests/wine/lib.sh
source "$(dirname "$0")/lib.sh"

LOG_FILE="$WINEPREFIX/drive_c/ProgramData/RUNTRAIL/RUNTRAIL_uippack.log"
HEADER="date       time         processname    processid  threadid  logversion    buildtime                   userdata"
# A record's prefix: local time, the program name, process and thread ids, the fixed version
# and build stamp, each field closed by a TAB.
PREFIX_PATTERN="[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}$TAB\\[uippack\\]$TAB\\[[0-9]+\\]$TAB\\[[0-9]+\\]$TAB\\[0x00021078\\]$TAB\\[Thu May 20 15:07:02 2010\\]$TAB"

# expect_log LINE...: the log holds the header and exactly these records (prefix stripped,
# each ended with CR LF), in this order.
expect_log() {
  [ -f "$LOG_FILE" ] || {
    fail "no log file at $LOG_FILE"
    return
  }
  expect_eq "header line" "$HEADER$CR" "$(head -n 1 "$LOG_FILE")"
  expect_eq "header length" 112 "$(head -n 1 "$LOG_FILE" | wc -c)"
  # Records begin at a line that carries a prefix; a message's own line feeds continue it.
  tail -n +2 "$LOG_FILE" >records
  local prefixes
  prefixes="$(grep -a -c -E "^$PREFIX_PATTERN" records || true)"
  expect_eq "number of records" "$#" "$prefixes"
  sed -E "s/^$PREFIX_PATTERN//" records >messages
  crlf_lines "$@" >expected-messages
  expect_same_file "messages" expected-messages messages
}

case_rejected_unpack_source() {
  rm -f "$LOG_FILE"
  mkdir empty
  local source
  source="$(winpath "$PWD/empty")"
  local today_before today_after
  today_before="$(date +%F)"
  run_uippack run -u "$source" "$(winpath "$PWD/out")"
  today_after="$(date +%F)"
  expect_eq "exit status" 255 "$RC"
  expect_log "No valid uip files found in path = $source."
  local day
  day="$(sed -n 2p "$LOG_FILE" | cut -c 1-10)"
  [ "$day" = "$today_before" ] || [ "$day" = "$today_after" ] || fail "record dated $day"
}

# The pack rejection's log format has 6 TABs where the console has 22; its line feeds stay
# bare LF inside the record, and only the record's end is CR LF.
case_rejected_pack_source_spans_lines() {
  rm -f "$LOG_FILE"
  mkdir empty
  local source
  source="$(winpath "$PWD/empty")"
  run_uippack run -p "$source" "$(winpath "$PWD/out")"
  expect_eq "exit status" 255 "$RC"
  local tabs4="$TAB$TAB$TAB$TAB"
  local message
  message="No valid uip files found in path = $source."$'\n'"A Valid UIP Path must include each of the following files:"$'\n'"$TAB$TAB$TAB$TAB$TAB$TAB ${tabs4}1.layout folder"$'\n'"${tabs4}2.res folder"$'\n'"${tabs4}3.nametable.cfg"$'\n'"${tabs4}4.package.cfg"$'\n'
  # The message ends with its own line feed, so the record's CR LF follows an empty line.
  expect_log "$message"
}

case_failed_pack_run() {
  rm -f "$LOG_FILE"
  make_package "pkg%x%"
  local source destination
  source="$(winpath "$PWD/pkg%x%")"
  destination="$(winpath "$PWD/out")"
  run_uippack run -p "$source" "$destination"
  expect_eq "exit status" 255 "$RC"
  expect_log "Pack error,source path = $source, destination path = $destination"
  # A second run appends its record under the same header.
  run_uippack again -u "$(winpath "$PWD/pkg%x%")" "$destination"
  expect_log "Pack error,source path = $source, destination path = $destination" \
    "No valid uip files found in path = $source."
}

# Processes that log at the same moment take turns on the named mutex: one header, and every
# record whole.
case_two_processes_at_once() {
  local round name
  for round in 1 2 3; do
    rm -f "$LOG_FILE"
    local pids=() expected=()
    for name in first second third fourth; do
      mkdir -p "$round-$name"
      wine "$UIPPACK_EXE" -u "$(winpath "$PWD/$round-$name")" "$(winpath "$PWD/out")" \
        >"$round-$name.out" 2>&1 &
      pids+=($!)
      expected+=("No valid uip files found in path = $(winpath "$PWD/$round-$name").")
    done
    for pid in "${pids[@]}"; do wait "$pid" || true; done
    expect_eq "headers in round $round" 1 "$(grep -a -c -F "$HEADER" "$LOG_FILE")"
    # The order of the records is the order the processes got the mutex.
    tail -n +2 "$LOG_FILE" | sed -E "s/^$PREFIX_PATTERN//" | LC_ALL=C sort >"round-$round"
    crlf_lines "${expected[@]}" | LC_ALL=C sort >"expected-$round"
    expect_same_file "records of round $round" "expected-$round" "round-$round"
    expect_eq "records with a whole prefix in round $round" 4 \
      "$(grep -a -c -E "^$PREFIX_PATTERN" "$LOG_FILE")"
  done
}

# Records are narrow text in the ANSI code page: GBK under a Chinese locale, "?" for what the
# Western code page lacks.
case_chinese_path_in_the_ansi_code_page() {
  mkdir "中文 包"
  local source
  source="$(winpath "$PWD/中文 包")"
  rm -f "$LOG_FILE"
  LC_ALL=zh_CN.UTF-8 run_uippack gbk -u "$source" "$(winpath "$PWD/out")"
  expect_eq "exit status (936)" 255 "$RC"
  expect_eq "console (936)" "No valid uip files found in path = $source.$CR" "$(tail -n 1 gbk.out)"
  local gbk_message
  gbk_message="$(printf '%s' "No valid uip files found in path = $source." | iconv -f UTF-8 -t GBK)"
  expect_log "$gbk_message"

  rm -f "$LOG_FILE"
  run_uippack western -u "$source" "$(winpath "$PWD/out")"
  expect_eq "exit status (1252)" 255 "$RC"
  expect_eq "console (1252)" "No valid uip files found in path = $source.$CR" \
    "$(tail -n 1 western.out)"
  expect_log "No valid uip files found in path = ${source%中文 包}?? ?."
}

run_cases
