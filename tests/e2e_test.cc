// End-to-end runs of the real uippack with the real ScriptStager, luac and 7-Zip: the native
// build, or with UIPPACK_TARGET=wine the Windows build under Wine with Wine's own cmd.exe. One set
// of rows serves both; a row that only one platform can have skips on the other. Runs work in a
// directory of their own with relative paths, so their lines differ only in the separator.
#include <dirent.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/package_fixture.h"

namespace uippack::testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
constexpr int kFailed = 255;  // -1 as a POSIX shell sees it

bool Wine() { return TheTarget().wine; }

// The text with each "/" as the target's separator and each "\n" as its line end.
std::string ForTarget(const std::string& text) {
  const std::string separated =
      std::regex_replace(text, std::regex("/"), std::string(1, TheTarget().separator));
  return std::regex_replace(separated, std::regex("\n"), TheTarget().lineEnd);
}

// An absolute path as the target spells it (Wine maps / to drive Z:).
std::string TargetPath(const fs::path& path) {
  return TheTarget().wine ? ForTarget("Z:" + path.string()) : path.string();
}

// Runs the target's uippack, or the copy at `executable`, with the arguments in cwd; env holds
// extra "NAME=VALUE" entries.
ProcessResult Uippack(Lines arguments, const fs::path& cwd = {}, Lines env = {},
                      const fs::path& executable = {}) {
  arguments.insert(arguments.begin(), executable.empty()
                                          ? TheTarget().bin / ("uippack" + TheTarget().exe)
                                          : executable);
  if (TheTarget().wine) {
    arguments.insert(arguments.begin(), "/usr/bin/wine");
    // Wine takes the ANSI code page from the locale: 1252 unless the run asks for another.
    env.insert(env.begin(), "LC_ALL=C.UTF-8");
  }
  return RunProcess(arguments, cwd, env);
}

// The lines uippack itself prints, without their line ends and without the tools' output.
Lines OwnLines(const std::string& out) {
  static const std::regex ours(
      "^(Start|PreCompile|Compile|Compress|Decompress|Pack|Unpack) |^No valid |^Refused: ");
  Lines lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    // A line end other than the target's stays visible in the line.
    if (TheTarget().wine) line.ends_with('\r') ? line.erase(line.size() - 1) : line.append("<LF>");
    if (std::regex_search(line, ours)) lines.push_back(line);
  }
  return lines;
}

// Whether a running process names root, as the target spells it, in its command line: what a
// run started and left running would.
bool NamedByAProcess(const fs::path& root) {
  const std::string text = TargetPath(root);
  // readdir goes on past a process that ends while it is listed; a command line that cannot be
  // read any more reads as empty. (Read through an iterator, a process that ends during the read
  // throws out of the stream instead: the copy into another stream stops quietly.)
  DIR* proc = opendir("/proc");
  bool named = false;
  for (const dirent* entry; !named && proc != nullptr && (entry = readdir(proc)) != nullptr;) {
    std::ifstream in("/proc/" + std::string(entry->d_name) + "/cmdline", std::ios::binary);
    std::ostringstream line;
    line << in.rdbuf();
    named = line.str().find(text) != std::string::npos;
  }
  if (proc != nullptr) closedir(proc);
  return named;
}

// Every entry below root but the excluded top-level names, with type, size, mode and time of
// change, sorted: whatever a run wrote there shows. Also lists trees deeper than PATH_MAX.
std::string Listing(const fs::path& root, const Lines& excluded) {
  Lines command = {"/bin/sh",   "-c", "find \"$@\" | LC_ALL=C sort", "sh", root.string(),
                   "-mindepth", "1"};
  for (const auto& name : excluded)
    command.insert(command.end(), {"-path", (root / name).string(), "-prune", "-o"});
  command.insert(command.end(), {"-printf", "%y %P %s %m %C@\\n"});
  return RunProcess(command).out;
}

// Sorts `count` runs of `length` lines from `from` on: items come in the file system's listing
// order, and the lines of one item stay together.
void SortRuns(Lines& lines, std::size_t from, std::size_t count, std::size_t length = 1) {
  if (lines.size() < from + count * length) return;
  std::vector<Lines> runs(count);
  for (std::size_t i = 0; i < count * length; ++i) runs[i / length].push_back(lines[from + i]);
  std::sort(runs.begin(), runs.end());
  for (std::size_t i = 0; i < count * length; ++i) lines[from + i] = runs[i / length][i % length];
}

// What lua5.4 prints running the script (the Windows luac writes the same bytecode format).
std::string RunLua(const fs::path& script) {
  return RunProcess({"sh", "-c", "exec lua5.4 \"$0\" 2>&1", script}, script.parent_path()).out;
}

// What the tools say when they meet a file or directory that is gone or going: 7-Zip's
// warnings and errors, rm's and cmd.exe's complaints.
::testing::Matcher<std::string> NoToolComplaint() {
  return ::testing::Not(::testing::ContainsRegex(
      "WARNING|ERROR|[Ee]rror|[Cc]annot|not empty|No such|[Nn]ot [Ff]ound"));
}

// A working directory, the current one of every run in it, with the small package in `package`.
struct Scene {
  explicit Scene(const std::string& package = "pkg") { MakePackage(work / package); }
  TempDir temp;
  const fs::path& work = temp.path();

  // Runs uippack and expects nothing it started to outlive it, and nothing outside the
  // destination (the third argument) to have changed, the source included.
  ProcessResult Run(const Lines& args, const Lines& env = {}, const fs::path& exe = {}) const {
    const Lines destination = {fs::path(args.at(2)).begin()->string()};
    const std::string before = Listing(work, destination);
    ProcessResult result = Uippack(args, work, env, exe);
    // Wine signals a process's end a moment before its Unix process is gone.
    bool named = NamedByAProcess(work);
    for (int i = 0; named && Wine() && i < 40; ++i, named = NamedByAProcess(work)) usleep(50000);
    EXPECT_FALSE(named) << "still running after uippack";
    EXPECT_EQ(Listing(work, destination), before) << "changed outside " << args[2];
    return result;
  }

  // uipcheck, the gate a build pipeline puts after uippack, proves that "out" is exactly the pack
  // of `source`: every file, script, archive entry and container.
  void ExpectPackOf(const std::string& source) const {
    const ProcessResult check = RunProcess({(BinDir() / "uipcheck").string(), source, "out"}, work);
    EXPECT_EQ(check.exitStatus, 0) << check.out << check.err;
  }

  // Unpacks "out" into `to` and expects the tree of `src` again, the scripts' content left out:
  // unpacking keeps them compiled (uipcheck has seen that they are).
  void ExpectRoundTrip(const std::string& to, const std::string& src, const Lines& env = {}) const {
    const ProcessResult run = Run({"-u", "out", to}, env);
    ASSERT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_THAT(run.out + run.err, NoToolComplaint());
    EXPECT_THAT(OwnLines(run.out),
                Contains("Decompress all resource zip files finished!").Times(2));
    EXPECT_TRUE(run.out.ends_with(ForTarget("\nUnpack all uip files ok!\n"))) << run.out;
    const auto shape = [this](const std::string& tree) {
      Lines listing = TreeListing(work / tree);
      for (auto& line : listing) line = std::regex_replace(line, std::regex(R"((\.lua) .*)"), "$1");
      return listing;
    };
    EXPECT_EQ(shape(to), shape(src));
  }
};

// ---------------------------------------------------------------------------------------------

TEST(Driver, OutcomesBeforeThePipelinePrintTheirExactBytesAndTouchNothing) {
  Scene s;
  // src lacks res and the two files; only the source is tested, not dst; archives alone are
  // not enough, and hidden directories are not searched.
  MakeTree(s.work, {"src/layout/", "dst/layout.uip", "ship/res/a.zip", "ship/.hidden/layout.uip"});
  const std::string unpackRejection =
      "Start unpacking uip files, please wait...\nNo valid uip files found in path = ship";
  const std::string inside = TargetPath(s.work / "pkg") + TheTarget().separator + "out";
  // Each console output with the arguments that give it; they are counted before the option is
  // looked at.
  const std::pair<std::vector<Lines>, std::string> cases[] = {
      {{{}, {"-p"}, {"-x", "src"}}, "Less arguments,at least three arguments are needed!\n"},
      {{{"-x", "nosuch", "nor"}, {"/p", "src", "dst"}, {"-pack", "src", "dst"}, {"", "src", "dst"}},
       "option error, please use -p for packing and -u for unpacking\n"},
      {{{"-P", "src", "dst", "-uip", "ignored"}},
       "Start packing uip files, please wait...\nNo valid uip files found in path = src.\n"
       "A Valid UIP Path must include each of the following files:\n"
       "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t \t\t\t\t1.layout folder\n"
       "\t\t\t\t2.res folder\n\t\t\t\t3.nametable.cfg\n\t\t\t\t4.package.cfg\n\n"},
      {{{"-U", "ship", "dst"}}, unpackRejection + ".\n"},
      {{{"-u", Wine() ? "ship/res" : "ship\\res", "dst"}}, unpackRejection + "/res.\n"},
      {{{"-p", "pkg", inside}},
       "Start packing uip files, please wait...\nRefused: destination path = " + inside +
           " is the source path = pkg or lies inside it or contains it, nothing copied!\n"
           "Pack error,source path = pkg, destination path = " +
           inside + "\n"}};
  const std::string before = Listing(s.work, {});
  for (const auto& [runs, console] : cases) {
    for (const Lines& arguments : runs) {
      const ProcessResult result = Uippack(arguments, s.work);
      EXPECT_EQ(result.out, ForTarget(console)) << ::testing::PrintToString(arguments);
      EXPECT_EQ(result.exitStatus, kFailed);
    }
  }
  EXPECT_EQ(Listing(s.work, {}), before);
}

// ---------------------------------------------------------------------------------------------

// The package, its names holding shell and cmd.exe syntax and letters beyond ASCII, becomes its
// shipping form and comes back; no name is split on the way.
TEST(Pack, PackageBecomesItsShippingFormAndComesBack) {
  const std::string zh = "\xE4\xB8\xAD";  // U+4E2D
  const std::string source = "src & (1) ^;$'" + zh, back = "back ,=;& (3) ^$'" + zh;
  Scene s(source);
  const fs::path pkg = s.work / source;
  WriteFile(pkg / "layout/cond.lua",
            "--#if DEBUG\nprint('debug')\n--#else\nprint('release')\n--#endif\nerror('line 6')\n");
  WriteFile(s.work / "PreCompile.txt", "DEBUG\n");  // read from the working directory
  const std::string script = "s p&a^c(e);,=$'" + zh + ".lua";
  WriteFile(pkg / "layout" / script, "print('odd')\n");
  const Lines names = {"a b", "a&b", "a^b", "(x)", "x;y", "c,d", "e=f", "-rf", "$(d)'e", zh + "x"};
  for (const auto& n : names) WriteFile(pkg / "res" / n / ("in " + n) / (n + ".txt"), n);
  // What a path split at a blank or at one of cmd.exe's separators would name.
  for (const std::string split : {"b", "d", "f", "y", "(3)", "back"}) {
    WriteFile(s.work / split / "keep.txt", split);
    WriteFile(s.work / (split + ".zip"), split);
  }
  // Under Wine, code page 936 holds every name. Into a plain destination, so that each name
  // must hold by itself; back out into an odd one.
  const Lines env = Wine() ? Lines{"LC_ALL=zh_CN.UTF-8"} : Lines{};
  const ProcessResult packed = s.Run({"-p", source, "out"}, env);
  ASSERT_EQ(packed.exitStatus, 0) << packed.out;
  Lines expected = {"Start packing uip files, please wait..."};
  for (const std::string item : {"cond.lua", "main.lua", "screens/home.lua", script.c_str()})
    for (const char* step : {"PreCompile ", "Compile "})
      expected.push_back(std::string(step).append("out/layout/").append(item).append(" finished!"));
  expected.insert(expected.end(),
                  {"Compile all lua files finished!", "Compress out/layout finished!",
                   "Compress all layout directories finished!"});
  for (const auto& name : names) expected.push_back("Compress out/res/" + name + " finished!");
  for (const char* name : {"images", "strings"})
    expected.push_back("Compress out/res/" + std::string(name) + " finished!");
  expected.insert(expected.end(),
                  {"Compress all resource directories finished!", "Pack all uip files ok!"});
  std::transform(expected.begin(), expected.end(), expected.begin(), ForTarget);
  Lines lines = OwnLines(packed.out);
  for (Lines* both : {&lines, &expected}) {
    SortRuns(*both, 1, 4, 2);
    SortRuns(*both, 12, names.size() + 2);
  }
  EXPECT_EQ(lines, expected) << packed.out;

  s.ExpectPackOf(source);

  // Both the container and the archive are unpacked, the one over the other.
  s.ExpectRoundTrip(back, source, env);
  for (const char* lua : {"main.lua", "screens/home.lua"})
    EXPECT_EQ(RunLua(s.work / back / "layout" / lua), RunLua(pkg / "layout" / lua));
  EXPECT_THAT(RunLua(s.work / back / "layout/cond.lua"),  // line numbers kept
              ::testing::AllOf(::testing::StartsWith("debug\n"), HasSubstr(":6: line 6")));
}

// A package shaped like a UI library: layout directories inside the layout directory, scripts
// at every level, a res directory in it too, and resources of many files. What lies inside an
// archived layout directory is archived with it, as it is, and once: every run gives the exact
// pack, and no tool meets a directory that is being removed. Each mode keeps every kind of
// directory too: layout directories at three depths, empty ones, names beyond ASCII (but in code
// page 1252, Wine's default), and hidden ones, which are copied as they are.
TEST(Nesting, LayoutsAndResourcesInALayoutPackToOneTreeInEveryMode) {
  Scene s;
  const fs::path pkg = s.work / "pkg";
  for (int i = 0; i < 400; ++i)
    for (const std::string dir : {"layout/res/icons/", "res/images/many/"})
      WriteFile(pkg / (dir + std::to_string(i) + ".png"), std::to_string(i));
  for (const std::string script :
       {"layout/init.lua", "layout/a/init.lua", "layout/a/b/init.lua", "layout/layout/widget.lua",
        "layout/a/layout/widget.lua", "layout/a/b/layout/widget.lua", "layout/res/theme.lua",
        "skins/dark/layout/\xC3\xBC\xC3\xA4/\xC3\xA9.lua", "a/b/c/layout/deep.lua"})
    WriteFile(pkg / script, "return '" + script + "'\n");
  MakeTree(pkg,
           {"skins/dark/res/colors/palette.txt", "res/nested/one/two/three.txt", "res/.cache/x.txt",
            ".git/layout/hidden.lua", "layout/empty/", "res/images/empty/"});
  for (const std::string mode : {"", "-uip", "zip"}) {
    for (int run = 0; run < 3; ++run) {
      SCOPED_TRACE("mode \"" + mode + "\", run " + std::to_string(run));
      const ProcessResult packed =
          s.Run(mode.empty() ? Lines{"-p", "pkg", "out"} : Lines{"-p", "pkg", "out", mode});
      ASSERT_EQ(packed.exitStatus, 0) << packed.out;
      EXPECT_THAT(packed.out + packed.err, NoToolComplaint());
      s.ExpectPackOf("pkg");
      if (run == 0 && mode != "zip") s.ExpectRoundTrip("back", "pkg");
      for (const char* tree : {"out", "back"}) fs::remove_all(s.work / tree);
    }
  }
}

TEST(Names, WindowsConsoleShowsNamesTheAnsiCodePageLacks) {
  if (!Wine()) GTEST_SKIP() << "the Windows console and its code pages";
  Scene s;
  const std::string pictures = "\xE5\x9B\xBE\xE7\x89\x87", text = "\xE8\xAF\xB4.txt";
  WriteFile(s.work / "pkg/res" / pictures / text, "picture");
  WriteFile(s.work / "pkg/res/ab", "two letters");  // what "??", their code page 1252 form, matches
  // script(1) gives Wine a terminal, which makes it a console; the session goes to stdout.
  const ProcessResult result = RunProcess(
      {"/usr/bin/script", "-q", "-e", "-c",
       "stty cols 1000; wine '" + (TheTarget().bin / "uippack.exe").string() + "' -p pkg out",
       "/dev/null"},
      s.work, {"LC_ALL=C.UTF-8"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_FALSE(NamedByAProcess(s.work));
  const auto shown = std::regex_replace(result.out, std::regex("\x1b\\[[0-9;?]*[A-Za-z]|\r"), "");
  EXPECT_THAT(shown, HasSubstr("Compress out\\res\\" + pictures + " finished!\n"));
  EXPECT_THAT(shown, HasSubstr("resource directories finished!\nPack all uip files ok!\n"));
  // The directory is archived, but not removed: "??" would be a wildcard.
  EXPECT_TRUE(fs::is_regular_file(s.work / "out/res" / (pictures + ".zip")));
  EXPECT_EQ(ReadFile(s.work / "out/res" / pictures / text), "picture");
  EXPECT_EQ(ReadFile(s.work / "out/res/ab"), "two letters");
  EXPECT_FALSE(fs::exists(s.work / "out/res/images"));
}

// ---------------------------------------------------------------------------------------------

// An archiver that cannot be started, or a name it would expand (7-Zip takes * and ? as
// wildcards, cmd.exe expands %NAME% even between quotes; Windows names cannot hold a *), fails
// the run with the item's command line, and the item is not removed.
TEST(Faults, ItemsTheArchiverCannotTakeFailTheRunWithTheirCommandLine) {
  Scene s;
  ASSERT_EQ(s.Run({"-p", "pkg", "shipped", "-uip"}).exitStatus, 0);
  const std::string name = Wine() ? "%OS%" : "st*r";
  WriteFile(s.work / "pkg/res" / name / "x.txt", "x");
  // A copy of uippack with its tools beside it but 7-Zip.
  const fs::path tools = s.work / "tools";
  MakeDirs(tools);
  for (const std::string tool : {"uippack", "ScriptStager", "luac"})
    fs::copy_file(TheTarget().bin / (tool + TheTarget().exe), tools / (tool + TheTarget().exe));
  const std::string archiver = "\"" + TargetPath(tools) + "/7z" + TheTarget().exe + "\"  ",
                    out = TargetPath(s.work / "out"), pack = "Pack error,source path = pkg, ";
  using ::testing::Eq;
  const std::tuple<Lines, fs::path, ::testing::Matcher<std::string>, std::string> cases[] = {
      {{"-p", "pkg", "out"},
       tools / ("uippack" + TheTarget().exe),
       Eq(ForTarget("Compress out/layout failed, CreateProcess failed!,cmdline = " + archiver +
                    "a -tzip " + out + "/layout.zip " + out + "/layout/* -r -mx=9")),
       pack + "destination path = out"},
      {{"-u", "shipped", "out"},
       tools / ("uippack" + TheTarget().exe),
       Eq(ForTarget("Decompress out/layout.zip failed, CreateProcess failed!,cmdline = " +
                    archiver + "x " + out + "/layout.zip -o" + out + "/layout -y")),
       "Unpack error,source path = shipped, destination path = out"},
      {{"-p", "pkg", "out"},
       {},
       ::testing::StartsWith(ForTarget("Compress out/res/" + name) +
                             " failed, CreateProcess failed!,cmdline = "),
       pack + "destination path = out"}};
  for (const auto& [arguments, executable, failure, verdict] : cases) {
    fs::remove_all(s.work / "out");
    const ProcessResult result = s.Run(arguments, {}, executable);
    EXPECT_EQ(result.exitStatus, kFailed);
    const Lines lines = OwnLines(result.out);
    ASSERT_GE(lines.size(), 2u) << result.out;
    EXPECT_THAT(lines[lines.size() - 2], failure);
    EXPECT_EQ(lines.back(), verdict);
  }
  EXPECT_EQ(ReadFile(s.work / "out/res" / name / "x.txt"), "x");  // not removed
}

// A script that is a link to a device: the copy holds only real directories and regular files.
// (Links to files and directories, and FIFOs, are uipcheck's to judge in its own tests; what
// unpacking meets in a shipped tree, links and FIFOs named like archives, is left alone by the
// walks and the extraction, as their own tests show.) The console's reader is gone before the
// run starts, and standard input is closed, so that files are opened as descriptor 0: the run
// goes on all the same.
TEST(Faults, HostileTreesAndAGoneConsoleReachNothingOutsideTheDestination) {
  if (Wine()) GTEST_SKIP() << "links to devices and SIGPIPE";
  Scene s;
  const fs::path& w = s.work;
  fs::create_symlink("/dev/zero", w / "pkg/layout/zero.lua");
  // uippack started by a script once writing to the pipe fails; the script's status is the last
  // failing command's.
  WriteFile(w / "wrapper",
            "#!/bin/bash\nset -o pipefail\n{ trap '' PIPE; while echo 2>/dev/null; "
            "do :; done; trap - PIPE; exec '" +
                (BinDir() / "uippack").string() + "' \"$@\" <&-; } | true\n");
  fs::permissions(w / "wrapper", fs::perms(0755));
  const ProcessResult result = s.Run({"-p", "pkg", "out"}, {}, w / "wrapper");
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_THAT(result.err, HasSubstr("zero.lua: skipped, neither a regular file nor a directory"));
  for (const auto& entry : fs::recursive_directory_iterator(w / "out"))
    EXPECT_FALSE(entry.is_symlink() || entry.is_other()) << entry.path();
}

// ---------------------------------------------------------------------------------------------

TEST(Log, FailedRunsLeaveOneWholeRecordEach) {
  Scene s;
  // On POSIX a copy under a name of its own keeps this test's log (and lock) apart from every
  // other run's; the failing runs start no tool. The log is where uippack may write: /var/log
  // for root, else $TMPDIR.
  const std::string program = Wine() ? "uippack" : "uippack_log_" + std::to_string(getpid());
  const fs::path executable = Wine() ? fs::path() : s.work / program;
  if (!Wine()) fs::copy_file(TheTarget().bin / "uippack", executable);
  fs::path log = access("/var/log", W_OK | X_OK) == 0 ? "/var/log" : s.work;
  if (Wine()) log = fs::path(std::getenv("WINEPREFIX")) / "drive_c/ProgramData";
  log /= "RUNTRAIL/RUNTRAIL_" + program + ".log";
  const std::string header =
      "date       time         processname    processid  threadid  logversion    buildtime       "
      "            userdata\r\n";
  // A record is whole when its prefix and its end are there; its message is the first group.
  const std::regex record(R"((\d{4}-\d\d-\d\d) \d\d:\d\d:\d\d\.\d{3}\t\[)" + program +
                          R"(\]\t\[\d+\]\t\[\d+\]\t\[0x00021078\]\t)"
                          R"(\[Thu May 20 15:07:02 2010\]\t([^\r]*)\r\n)");
  const auto today = [] { return RunProcess({"date", "+%F"}).out.substr(0, 10); };  // local
  const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87 \xE5\x8C\x85";
  for (const std::string& empty : Lines{"empty", "e1", chinese}) MakeDirs(s.work / empty);
  const std::string inside = TargetPath(s.work / "pkg") + TheTarget().separator + "out";
  // The locale, the runs, and the records they leave.
  const std::tuple<std::string, std::vector<Lines>, Lines> cases[] = {
      // One header for processes that take turns; line feeds inside a record stay bare. An
      // argument error is only printed.
      {"C.UTF-8",
       {{"-p", "empty", "out"}, {"-p", "pkg", inside}, {"-u", "e1", "out"}, {"-x", "e1", "out"}},
       {"No valid uip files found in path = empty.\nA Valid UIP Path must include each of the "
        "following files:\n\t\t\t\t\t\t \t\t\t\t1.layout folder\n\t\t\t\t2.res folder\n"
        "\t\t\t\t3.nametable.cfg\n\t\t\t\t4.package.cfg\n",
        "Pack error,source path = pkg, destination path = " + inside,
        "No valid uip files found in path = e1."}},
      // Records are in the ANSI code page: GBK, or "?" where code page 1252 has no letter.
      {"zh_CN.UTF-8",
       {{"-u", chinese, "out"}},
       {"No valid uip files found in path = \xD6\xD0\xCE\xC4 \xB0\xFC."}},
      {"C.UTF-8", {{"-u", chinese, "out"}}, {"No valid uip files found in path = ?? ?."}}};
  for (std::size_t i = 0; i < (Wine() ? 3 : 1); ++i) {  // the ANSI code pages are Windows's
    const auto& [locale, arguments, expected] = cases[i];
    SCOPED_TRACE(locale);
    fs::remove(log);
    const std::string dayBefore = today();
    const Lines env = {"LC_ALL=" + locale, "TMPDIR=" + s.work.string()};
    for (const Lines& run : arguments)
      EXPECT_EQ(Uippack(run, s.work, env, executable).exitStatus, kFailed);
    const std::string content = ReadFile(log);
    ASSERT_EQ(content.substr(0, header.size()), header);
    Lines records;
    std::size_t whole = header.size();
    for (std::sregex_iterator it(content.begin() + whole, content.end(), record), end; it != end;
         whole += it->length(), ++it) {
      EXPECT_THAT((*it)[1].str(), ::testing::AnyOf(dayBefore, today()));
      records.push_back((*it)[2]);
    }
    EXPECT_EQ(whole, content.size());  // nothing but records after the header
    EXPECT_EQ(records, expected);
  }
  fs::remove(log);
  if (!Wine()) fs::remove("/tmp/#mutexRUNTRAIL_" + program);
}

}  // namespace
}  // namespace uippack::testing
