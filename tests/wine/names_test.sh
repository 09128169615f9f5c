#!/usr/bin/env bash
# Paths as Windows users write them: drive letters, names that cmd.exe would read as syntax,
# names with % (refused), and Chinese names in a Chinese and in a Western code page.
# shellcheck source=tests/wine/lib.sh
source "$(dirname "$0")/lib.sh"

# Everything in the current directory (the destination's parent) except the named outputs.
area_listing() {
  local prune=() name
  for name in "$@"; do prune+=(-path "./$name" -prune -o); done
  tree_listing . "${prune[@]}" -path './*.out' -prune -o -path './*.err' -prune -o \
    -path './*.ours' -prune -o -path './.expected' -prune -o -path './.actual' -prune -o \
    -path './.failed' -prune -o
}

# Files a path split at a blank, "&", ";", "," or "=" would reach, relative to the current
# directory: they must come through every run untouched.
make_split_targets() {
  local name
  for name in b d f y "(2)" "(3)" out back; do
    mkdir -p "$name"
    printf 'keep %s\n' "$name" >"$name/keep.txt"
    printf 'keep\n' >"$name.zip"
  done
}

# Our lines as a sorted list: the listing order of names like these differs between file
# systems, the lines themselves must not.
sorted_our_lines() {
  our_lines "$1" | LC_ALL=C sort
}

expect_sorted_lines() {
  local what="$1" actual="$2"
  shift 2
  crlf_lines "$@" | LC_ALL=C sort >"$CASE_DIR/.expected"
  sorted_our_lines "$actual" >"$CASE_DIR/.actual"
  expect_same_file "$what" "$CASE_DIR/.expected" "$CASE_DIR/.actual"
}

case_drive_letter_paths() {
  # Wine maps C: to the prefix's drive_c and Z: to /.
  local unique="uippack-e2e-$$"
  local root="$WINEPREFIX/drive_c/$unique"
  rm -rf "$root"
  make_package "$root/pkg"
  run_uippack pack -p "C:\\$unique\\pkg" "c:/$unique/out"
  expect_eq "exit status" 0 "$RC"
  our_lines pack.out >pack.ours
  expect_lines "pack lines" pack.ours \
    "Start packing uip files, please wait..." \
    "PreCompile c:\\$unique\\out\\layout\\main.lua finished!" \
    "Compile c:\\$unique\\out\\layout\\main.lua finished!" \
    "Compile all lua files finished!" \
    "Compress c:\\$unique\\out\\layout finished!" \
    "Compress all layout directories finished!" \
    "Compress c:\\$unique\\out\\res\\images finished!" \
    "Compress all resource directories finished!" \
    "Pack all uip files ok!"
  wait_gone "$root/out/layout" "$root/out/res/images"
  expect_exists "$root/out/layout.uip" "$root/out/layout.zip" "$root/out/res/images.zip"
  if is_bytecode "$root/pkg/layout/main.lua"; then fail "the source script was compiled"; fi

  # The same directory through C: and through Z: is one tree.
  local through_z
  through_z="$(winpath "$root/pkg")\\sub"
  run_uippack overlap -p "C:\\$unique\\pkg" "$through_z"
  expect_eq "overlap exit status" 255 "$RC"
  expect_lines "overlap lines" overlap.out \
    "Start packing uip files, please wait..." \
    "Refused: destination path = $through_z is the source path = C:\\$unique\\pkg or lies inside it or contains it, nothing copied!" \
    "Pack error,source path = C:\\$unique\\pkg, destination path = $through_z"
  expect_absent "$root/pkg/sub"
  rm -rf "$root"
}

case_cmd_syntax_in_package_names() {
  local source_dir="src & (1) ^;"
  make_package "$source_dir"
  local name
  for name in "a b" "a&b" "a^b" "(x)" "x;y" "c,d" "e=f"; do
    mkdir -p "$source_dir/res/$name/in $name"
    printf '%s\n' "$name" >"$source_dir/res/$name/in $name/f $name.txt"
  done
  printf 'print("odd")\n' >"$source_dir/layout/s p&a^c(e);,=.lua"
  make_split_targets
  local area_before source_before
  area_before="$(area_listing out back)"
  source_before="$(tree_listing "$source_dir")"

  local source out back
  source="$(winpath "$PWD/$source_dir")"
  out="$(winpath "$PWD/out")"  # plain: nothing quotes the whole path, each name must hold
  back="$(winpath "$PWD/back")"
  rm -rf out back
  run_uippack pack -p "$source" "$out"
  expect_eq "pack exit status" 0 "$RC"
  expect_sorted_lines "pack lines" pack.out \
    "Start packing uip files, please wait..." \
    "PreCompile $out\\layout\\main.lua finished!" \
    "Compile $out\\layout\\main.lua finished!" \
    "PreCompile $out\\layout\\s p&a^c(e);,=.lua finished!" \
    "Compile $out\\layout\\s p&a^c(e);,=.lua finished!" \
    "Compile all lua files finished!" \
    "Compress $out\\layout finished!" \
    "Compress all layout directories finished!" \
    "Compress $out\\res\\a b finished!" \
    "Compress $out\\res\\a&b finished!" \
    "Compress $out\\res\\a^b finished!" \
    "Compress $out\\res\\(x) finished!" \
    "Compress $out\\res\\x;y finished!" \
    "Compress $out\\res\\c,d finished!" \
    "Compress $out\\res\\e=f finished!" \
    "Compress $out\\res\\images finished!" \
    "Compress all resource directories finished!" \
    "Pack all uip files ok!"
  for name in "a b" "a&b" "a^b" "(x)" "x;y" "c,d" "e=f" images; do
    wait_gone "out/res/$name"
    expect_absent "out/res/$name"
    expect_exists "out/res/$name.zip"
  done
  wait_gone out/layout

  run_uippack unpack -u "$out" "$back"
  expect_eq "unpack exit status" 0 "$RC"
  for name in "a b" "a&b" "a^b" "(x)" "x;y" "c,d" "e=f" images; do
    wait_gone "back/res/$name.zip"
    expect_absent "back/res/$name.zip"
    diff -r "$source_dir/res/$name" "back/res/$name" >/dev/null || fail "res/$name did not come back"
  done
  wait_gone back/layout.uip back/layout.zip
  is_bytecode "back/layout/s p&a^c(e);,=.lua" || fail "the oddly named script was not compiled"

  expect_eq "source tree" "$source_before" "$(tree_listing "$source_dir")"
  expect_eq "destination's parent" "$area_before" "$(area_listing out back)"
}

case_cmd_syntax_in_destination() {
  make_package pkg
  make_split_targets
  local area_before
  local out_dir="out ,=;& (2) ^" back_dir="back ,=;& (3) ^"
  area_before="$(area_listing "$out_dir" "$back_dir")"
  local out back
  out="$(winpath "$PWD/$out_dir")"
  back="$(winpath "$PWD/$back_dir")"
  run_uippack pack -p "$(winpath "$PWD/pkg")" "$out"
  expect_eq "pack exit status" 0 "$RC"
  expect_eq "pack's last line" "Pack all uip files ok!$CR" "$(our_lines pack.out | tail -n 1)"
  grep -a -q -F "Compress $out\\res\\images finished!" pack.out || fail "no line for res\\images"
  wait_gone "$out_dir/layout" "$out_dir/res/images"
  expect_exists "$out_dir/layout.uip" "$out_dir/layout.zip" "$out_dir/res/images.zip"
  expect_absent "$out_dir/layout" "$out_dir/res/images"

  run_uippack unpack -u "$out" "$back"
  expect_eq "unpack exit status" 0 "$RC"
  wait_gone "$back_dir/layout.uip" "$back_dir/layout.zip" "$back_dir/res/images.zip"
  expect_absent "$back_dir/layout.uip" "$back_dir/layout.zip" "$back_dir/res/images.zip"
  diff -r pkg/res "$back_dir/res" >/dev/null || fail "res did not come back"
  is_bytecode "$back_dir/layout/main.lua" || fail "main.lua did not come back compiled"
  expect_eq "destination's parent" "$area_before" "$(area_listing "$out_dir" "$back_dir")"
}

# cmd.exe expands %NAME% even inside quotes: a path holding % is never put into a command line.
case_percent_is_refused() {
  make_package pkg
  mkdir -p "pkg/res/%OS%"
  printf 'x\n' >"pkg/res/%OS%/f.txt"
  make_split_targets
  local area_before
  area_before="$(area_listing pkg out)"
  local source out
  source="$(winpath "$PWD/pkg")"
  out="$(winpath "$PWD/out")"
  rm -rf out
  run_uippack pack -p "$source" "$out"
  expect_eq "exit status" 255 "$RC"
  our_lines pack.out >pack.ours
  # "%OS%" sorts before "images": it is the first resource item, and the run ends there.
  expect_lines "lines" pack.ours \
    "Start packing uip files, please wait..." \
    "PreCompile $out\\layout\\main.lua finished!" \
    "Compile $out\\layout\\main.lua finished!" \
    "Compile all lua files finished!" \
    "Compress $out\\layout finished!" \
    "Compress all layout directories finished!" \
    "Compress $out\\res\\%OS% failed, CreateProcess failed!,cmdline = \"$TOOL_DIR_WIN\\7z.exe\"  a -tzip $out\\res\\%OS%.zip $out\\res\\%OS%\\* -r -mx=0" \
    "Pack error,source path = $source, destination path = $out"
  expect_exists "out/res/%OS%/f.txt" out/res/images/a.png
  expect_absent "out/res/%OS%.zip" out/res/images.zip

  # A source holding % cannot even be copied: nothing is created.
  mv pkg "pkg%OS%"
  local odd_source
  odd_source="$(winpath "$PWD/pkg%OS%")"
  run_uippack copy -p "$odd_source" "$(winpath "$PWD/out2")"
  expect_eq "copy exit status" 255 "$RC"
  expect_lines "copy lines" copy.out \
    "Start packing uip files, please wait..." \
    "Pack error,source path = $odd_source, destination path = $(winpath "$PWD/out2")"
  expect_absent out2
  mv "pkg%OS%" pkg
  expect_eq "destination's parent" "$area_before" "$(area_listing pkg out)"
}

# make_chinese_package DIR: a package with Chinese names in layout and res.
make_chinese_package() {
  make_package "$1"
  mkdir -p "$1/res/图片"
  printf 'picture\n' >"$1/res/图片/说明.txt"
  printf 'print("你好")\n' >"$1/layout/界面.lua"
}

# In a Chinese system locale (ANSI code page 936) every name goes through, removals included.
case_chinese_names_in_code_page_936() {
  make_chinese_package 源包
  local source out back
  source="$(winpath "$PWD/源包")"
  out="$(winpath "$PWD/输出 目录")"
  back="$(winpath "$PWD/还原")"
  LC_ALL=zh_CN.UTF-8 run_uippack pack -p "$source" "$out"
  expect_eq "pack exit status" 0 "$RC"
  expect_sorted_lines "pack lines" pack.out \
    "Start packing uip files, please wait..." \
    "PreCompile $out\\layout\\main.lua finished!" \
    "Compile $out\\layout\\main.lua finished!" \
    "PreCompile $out\\layout\\界面.lua finished!" \
    "Compile $out\\layout\\界面.lua finished!" \
    "Compile all lua files finished!" \
    "Compress $out\\layout finished!" \
    "Compress all layout directories finished!" \
    "Compress $out\\res\\images finished!" \
    "Compress $out\\res\\图片 finished!" \
    "Compress all resource directories finished!" \
    "Pack all uip files ok!"
  wait_gone "输出 目录/layout" "输出 目录/res/图片" "输出 目录/res/images"
  expect_absent "输出 目录/layout" "输出 目录/res/图片"
  expect_exists "输出 目录/res/图片.zip"

  LC_ALL=zh_CN.UTF-8 run_uippack unpack -u "$out" "$back"
  expect_eq "unpack exit status" 0 "$RC"
  grep -a -q -F "Decompress $back\\res\\图片.zip finished!" unpack.out || fail "no line for 图片.zip"
  wait_gone "还原/res/图片.zip" "还原/layout.uip" "还原/layout.zip"
  expect_absent "还原/res/图片.zip"
  diff -r 源包/res "还原/res" >/dev/null || fail "res did not come back"
  is_bytecode "还原/layout/界面.lua" || fail "界面.lua was not compiled"
}

# In a Western code page (1252) the names cannot be written in the narrow text that WinExec
# takes: the removal of res\图片 is not started (its "?" form would be a wildcard to rd and del
# and could reach other names), the console still shows every name and every later line.
case_chinese_names_in_code_page_1252() {
  make_package pkg
  mkdir -p "pkg/res/图片"
  printf 'picture\n' >"pkg/res/图片/说明.txt"
  printf 'two letters\n' >pkg/res/ab  # what "res\??" would match
  local source out
  source="$(winpath "$PWD/pkg")"
  out="$(winpath "$PWD/out")"
  run_uippack pack -p "$source" "$out"
  expect_eq "pack exit status" 0 "$RC"
  expect_sorted_lines "pack lines" pack.out \
    "Start packing uip files, please wait..." \
    "PreCompile $out\\layout\\main.lua finished!" \
    "Compile $out\\layout\\main.lua finished!" \
    "Compile all lua files finished!" \
    "Compress $out\\layout finished!" \
    "Compress all layout directories finished!" \
    "Compress $out\\res\\images finished!" \
    "Compress $out\\res\\图片 finished!" \
    "Compress all resource directories finished!" \
    "Pack all uip files ok!"
  wait_gone out/layout out/res/images
  expect_absent out/res/images
  expect_exists out/res/图片.zip out/res/图片/说明.txt
  expect_eq "res\\ab" "two letters" "$(cat out/res/ab)"
  expect_eq "图片.zip entries" "$(printf '说明.txt\tStore')" "$(zip_entries out/res/图片.zip)"
}

# On a console the lines go out as UTF-16 (WriteConsoleW): Wine's console shows them on its
# terminal, Chinese included, and nothing after them is lost.
case_chinese_names_on_a_console() {
  make_chinese_package pkg
  rm pkg/layout/界面.lua  # luac.exe takes narrow arguments; code page 1252 has no such name
  local source out
  source="$(winpath "$PWD/pkg")"
  out="$(winpath "$PWD/输出")"
  RC=0
  # script gives the program a terminal: Wine then makes it a console. The terminal adds its
  # own control sequences and line ends, so only the text of each line is compared; it is made
  # wide enough that no line wraps.
  script -q -e -c "stty cols 1000; wine '$UIPPACK_EXE' -p '$source' '$out'" console.typescript \
    </dev/null >/dev/null 2>&1 || RC=$?
  expect_eq "exit status" 0 "$RC"
  local text
  text="$(sed 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\r//g' console.typescript)"
  local line
  for line in "Compress $out\\res\\图片 finished!" "Compress all resource directories finished!" \
    "Pack all uip files ok!"; do
    grep -q -x -F "$line" <<<"$text" || fail "the console did not show: $line"
  done
}

run_cases
