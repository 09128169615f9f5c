#!/usr/bin/env bash
# The driver's outcomes under Wine, byte for byte on a redirected stdout (UTF-8, CR LF).
# shellcheck source=tests/wine/lib.sh
source "$(dirname "$0")/lib.sh"

case_too_few_arguments() {
  for arguments in "" "-p" "-p Z:\\a"; do
    # shellcheck disable=SC2086 # the arguments are meant to split
    run_uippack run $arguments
    expect_eq "exit status for [$arguments]" 255 "$RC"
    expect_lines "console for [$arguments]" run.out \
      "Less arguments,at least three arguments are needed!"
  done
}

case_option_error_looks_at_nothing() {
  for option in -x /p -pack p; do
    run_uippack run "$option" "Z:\\no\\such\\source" "Z:\\no\\such\\destination"
    expect_eq "exit status for $option" 255 "$RC"
    expect_lines "console for $option" run.out \
      "option error, please use -p for packing and -u for unpacking"
  done
}

case_rejected_pack_source_prints_the_four_entries() {
  make_package pkg
  rm pkg/package.cfg
  local source
  source="$(winpath "$PWD/pkg")"
  run_uippack run -p "$source" "$(winpath "$PWD/out")"
  expect_eq "exit status" 255 "$RC"
  # Every line feed of the message is written as CR LF, as a text-mode stream writes it; the
  # message's own last line feed leaves an empty line before the closing one.
  local tabs22 tabs4
  tabs22="$(printf '\t%.0s' $(seq 22))"
  tabs4="$TAB$TAB$TAB$TAB"
  expect_lines "console" run.out "Start packing uip files, please wait..." \
    "No valid uip files found in path = $source." \
    "A Valid UIP Path must include each of the following files:" \
    "$tabs22 ${tabs4}1.layout folder" \
    "${tabs4}2.res folder" \
    "${tabs4}3.nametable.cfg" \
    "${tabs4}4.package.cfg" \
    ""
  expect_absent out
}

case_rejected_unpack_source() {
  make_package pkg  # a package, but not a packed one: no layout.uip anywhere
  local source
  source="$(winpath "$PWD/pkg")"
  run_uippack run -u "$source" "$(winpath "$PWD/out")"
  expect_eq "exit status" 255 "$RC"
  expect_lines "console" run.out "Start unpacking uip files, please wait..." \
    "No valid uip files found in path = $source."
  expect_absent out
}

# -P and -U are -p and -u; paths typed with "/" are tested, used and printed with "\".
case_capital_options_and_forward_slashes() {
  make_package pkg
  local slashed_source="Z:$PWD/pkg" slashed_destination="Z:$PWD/out"
  local source destination
  source="$(winpath "$PWD/pkg")"
  destination="$(winpath "$PWD/out")"
  run_uippack pack -P "$slashed_source" "$slashed_destination"
  expect_eq "pack exit status" 0 "$RC"
  our_lines pack.out >pack.ours
  expect_lines "pack lines" pack.ours "Start packing uip files, please wait..." \
    "PreCompile $destination\\layout\\main.lua finished!" \
    "Compile $destination\\layout\\main.lua finished!" \
    "Compile all lua files finished!" \
    "Compress $destination\\layout finished!" \
    "Compress all layout directories finished!" \
    "Compress $destination\\res\\images finished!" \
    "Compress all resource directories finished!" \
    "Pack all uip files ok!"

  run_uippack unpack -U "Z:$PWD/out" "Z:$PWD/back"
  expect_eq "unpack exit status" 0 "$RC"
  our_lines unpack.out >unpack.ours
  local back
  back="$(winpath "$PWD/back")"
  expect_lines "unpack lines" unpack.ours "Start unpacking uip files, please wait..." \
    "Decompress $back\\layout.zip finished!" \
    "Decompress all resource zip files finished!" \
    "Decompress $back\\layout.zip finished!" \
    "Decompress $back\\res\\images.zip finished!" \
    "Decompress all resource zip files finished!" \
    "Unpack all uip files ok!"

  # A rejected source is printed with backslashes too.
  run_uippack rejected -u "Z:$PWD/pkg/" "Z:$PWD/x"
  expect_lines "rejected source" rejected.out "Start unpacking uip files, please wait..." \
    "No valid uip files found in path = $source\\."
}

case_destination_inside_the_source_is_refused() {
  make_package pkg
  local before
  before="$(tree_listing pkg)"
  local source destination
  source="$(winpath "$PWD/pkg")"
  destination="$source\\out"
  run_uippack run -p "$source" "$destination"
  expect_eq "exit status" 255 "$RC"
  expect_lines "console" run.out "Start packing uip files, please wait..." \
    "Refused: destination path = $destination is the source path = $source or lies inside it or contains it, nothing copied!" \
    "Pack error,source path = $source, destination path = $destination"
  expect_eq "source tree" "$before" "$(tree_listing pkg)"
}

run_cases
