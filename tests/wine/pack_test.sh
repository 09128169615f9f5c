#!/usr/bin/env bash
# Packing and unpacking under Wine with the Windows command templates: Wine's cmd.exe with
# xcopy, rd and del, the real 7z.exe and luac.exe, and our ScriptStager.exe.
# shellcheck source=tests/wine/lib.sh
source "$(dirname "$0")/lib.sh"

DEMO="$SOURCE_DIR/examples/demo"

# What running a script prints with lua5.4 (the packed ones are bytecode made by luac.exe for
# Windows x64; the format is the same on Linux x86-64).
lua_output() {
  lua5.4 "$1" 2>&1
}

case_demo_pack_and_round_trip() {
  local source_before
  source_before="$(tree_listing "$DEMO")"
  local source out back
  source="$(winpath "$DEMO")"
  out="$(winpath "$PWD/out")"
  back="$(winpath "$PWD/back")"

  run_uippack pack -p "$source" "$out"
  expect_eq "pack exit status" 0 "$RC"
  our_lines pack.out >pack.ours
  # Listing order is the file system's; these names sort the same in Wine and on NTFS.
  expect_lines "pack lines" pack.ours \
    "Start packing uip files, please wait..." \
    "PreCompile $out\\layout\\main.lua finished!" \
    "Compile $out\\layout\\main.lua finished!" \
    "PreCompile $out\\layout\\screens\\home.lua finished!" \
    "Compile $out\\layout\\screens\\home.lua finished!" \
    "PreCompile $out\\layout\\screens\\settings.lua finished!" \
    "Compile $out\\layout\\screens\\settings.lua finished!" \
    "PreCompile $out\\layout\\widgets\\buttons\\button.lua finished!" \
    "Compile $out\\layout\\widgets\\buttons\\button.lua finished!" \
    "Compile all lua files finished!" \
    "Compress $out\\layout finished!" \
    "Compress all layout directories finished!" \
    "Compress $out\\res\\icons finished!" \
    "Compress $out\\res\\sounds finished!" \
    "Compress $out\\res\\strings finished!" \
    "Compress all resource directories finished!" \
    "Pack all uip files ok!"

  wait_gone out/layout out/res/icons out/res/sounds out/res/strings
  expect_eq "packed tree" "$(printf '%s\n' . ./layout.uip ./layout.zip ./nametable.cfg ./package.cfg \
    ./res ./res/README.txt ./res/icons.zip ./res/sounds.zip ./res/strings.zip)" \
    "$(cd out && find . | LC_ALL=C sort)"
  for file in nametable.cfg package.cfg res/README.txt; do
    expect_same_file "$file" "$DEMO/$file" "out/$file"
  done

  # The layout archive holds the layout's content at its root, deflated, scripts compiled.
  expect_eq "layout.zip entries" "$(printf '%s\tDeflate\n' main.lua screens/home.lua \
    screens/settings.lua widgets/buttons/button.lua)" "$(zip_entries out/layout.zip)"
  7zz x -y -olayout-content out/layout.zip >/dev/null
  for script in main.lua screens/home.lua screens/settings.lua widgets/buttons/button.lua; do
    is_bytecode "layout-content/$script" || fail "$script is not Lua 5.4 bytecode"
    local expected
    # ScriptStager dropped the DEBUG branch (no PreCompile.txt here defines DEBUG).
    expected="$(lua_output "$DEMO/layout/$script" | grep -v '^debug build of ' || true)"
    expect_eq "output of compiled $script" "$expected" "$(lua_output "layout-content/$script")"
  done
  # Each resource subdirectory became a stored archive of its content.
  for directory in icons sounds strings; do
    expect_eq "$directory.zip methods" "$(cd "$DEMO/res/$directory" && find . -type f |
      sed 's|^\./||' | LC_ALL=C sort | sed 's/$/\tStore/')" "$(zip_entries "out/res/$directory.zip")"
    7zz x -y "-ores-content/$directory" "out/res/$directory.zip" >/dev/null
    diff -r "$DEMO/res/$directory" "res-content/$directory" >/dev/null ||
      fail "$directory.zip does not hold res/$directory"
  done

  run_uippack unpack -u "$out" "$back"
  expect_eq "unpack exit status" 0 "$RC"
  our_lines unpack.out >unpack.ours
  # layout.zip (the empty mode keeps it) is also an archive of its own: extracted twice.
  expect_lines "unpack lines" unpack.ours \
    "Start unpacking uip files, please wait..." \
    "Decompress $back\\layout.zip finished!" \
    "Decompress all resource zip files finished!" \
    "Decompress $back\\layout.zip finished!" \
    "Decompress $back\\res\\icons.zip finished!" \
    "Decompress $back\\res\\sounds.zip finished!" \
    "Decompress $back\\res\\strings.zip finished!" \
    "Decompress all resource zip files finished!" \
    "Unpack all uip files ok!"
  wait_gone back/layout.uip back/layout.zip back/res/icons.zip back/res/sounds.zip \
    back/res/strings.zip
  diff -r layout-content back/layout >/dev/null || fail "unpacked layout differs from the archive"
  for directory in icons sounds strings; do
    diff -r "$DEMO/res/$directory" "back/res/$directory" >/dev/null ||
      fail "unpacked res/$directory differs from the source"
  done
  expect_eq "unpacked tree" "$(cd "$DEMO" && find . | LC_ALL=C sort)" \
    "$(cd back && find . | LC_ALL=C sort)"

  expect_eq "source tree after both runs" "$source_before" "$(tree_listing "$DEMO")"
}

# The mode decides what stands beside the removed layout directory.
case_modes() {
  make_package pkg
  local source
  source="$(winpath "$PWD/pkg")"
  local mode name
  # Names that differ in more than letter case: Wine, like Windows, finds out-uip for out-UIP.
  for mode in -uip -UIP zip; do
    name="out$([ "$mode" = -UIP ] && echo -capitals || echo "$mode")"
    run_uippack "$name" -p "$source" "$(winpath "$PWD/$name")" "$mode"
    expect_eq "exit status for $mode" 0 "$RC"
    expect_eq "last line for $mode" "Pack all uip files ok!$CR" "$(our_lines "$name.out" | tail -n 1)"
  done
  wait_gone out-uip/layout out-capitals/layout outzip/layout
  expect_exists out-uip/layout.uip out-capitals/layout.uip outzip/layout.zip
  expect_absent out-uip/layout.zip out-capitals/layout.zip outzip/layout.uip

  # A container alone unpacks.
  run_uippack unpack -u "$(winpath "$PWD/out-uip")" "$(winpath "$PWD/back")"
  expect_eq "unpack exit status" 0 "$RC"
  wait_gone back/layout.uip back/layout.zip
  is_bytecode back/layout/main.lua || fail "main.lua did not come back compiled"
  expect_exists back/res/images/a.png
}

# Without 7z.exe beside uippack.exe the first archive is a start failure that shows the whole
# Windows command line: the quoted tool path, two blanks, the switches.
case_missing_archiver() {
  mkdir tools
  cp "$UIPPACK_EXE" "$BIN_DIR/ScriptStager.exe" "$BIN_DIR/luac.exe" tools/
  make_package pkg
  local source out tools
  source="$(winpath "$PWD/pkg")"
  out="$(winpath "$PWD/out")"
  tools="$(winpath "$PWD/tools")"
  RC=0
  wine tools/uippack.exe -p "$source" "$out" >run.out 2>run.err || RC=$?
  expect_eq "exit status" 255 "$RC"
  our_lines run.out >run.ours
  expect_lines "lines" run.ours \
    "Start packing uip files, please wait..." \
    "PreCompile $out\\layout\\main.lua finished!" \
    "Compile $out\\layout\\main.lua finished!" \
    "Compile all lua files finished!" \
    "Compress $out\\layout failed, CreateProcess failed!,cmdline = \"$tools\\7z.exe\"  a -tzip $out\\layout.zip $out\\layout\\* -r -mx=9" \
    "Pack error,source path = $source, destination path = $out"
  is_bytecode out/layout/main.lua || fail "the script should stay compiled"
  expect_exists out/res/images/a.png
}

run_cases
