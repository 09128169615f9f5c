// Runs in which the world goes wrong: destinations that cannot be written, tools that crash,
// hang, fail or write nothing, a disk that fills up, trees deeper than the path length limit,
// a console nobody reads and two runs into one destination at once. Whatever happens, uippack
// ends by itself (never by a signal) with its verdict as its last line, leaves the source as it
// was and changes nothing outside the destination.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "package/package_builder.h"
#include "platform/text.h"
#include "tests/package_fixture.h"

extern char** environ;

namespace uippack::testing {
namespace {

using Lines = std::vector<std::string>;
constexpr int kFailureStatus = 255;  // -1 as a POSIX shell sees it

bool IsValidContainer(const fs::path& path) {
  PackageBuilder builder;
  return fs::exists(path) && builder.VerifyContainer(platform::NarrowToWide(path.string())) == 1;
}

bool ArchiveTestsGood(const fs::path& zip) {
  return RunProcess({(BinDir() / "7z").string(), "t", zip.string()}).exitStatus == 0;
}

// The run ended by itself, its verdict is its last line and the exit status matches it.
void ExpectVerdict(const ProcessResult& result, const std::string& run) {
  ASSERT_TRUE(result.exitStatus == 0 || result.exitStatus == kFailureStatus)
      << "exit status " << result.exitStatus << "\n"
      << result.out << result.err;
  const Lines lines = OwnLines(result.out);
  ASSERT_FALSE(lines.empty());
  if (result.exitStatus == 0) {
    EXPECT_EQ(lines.back(), run + " all uip files ok!") << result.out;
  } else {
    EXPECT_TRUE(lines.back().rfind(run + " error,source path = ", 0) == 0 ||
                lines.back().rfind("No valid uip files found in path = ", 0) == 0)
        << result.out;
  }
}

// Everything below root but the entry `excluded` (and all below it), by type, path, size, mode
// and modification and change times. find(1) lists trees deeper than the path length limit.
Lines ListingWithout(const fs::path& root, const std::string& excluded) {
  const ProcessResult found =
      RunProcess({"/usr/bin/find", root.string(), "-mindepth", "1", "-path",
                  (root / excluded).string(), "-prune", "-o", "-printf", "%y %P %s %m %T@ %C@\\n"});
  EXPECT_EQ(found.exitStatus, 0) << found.err;
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = found.out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(found.out.substr(start, end - start));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// What a run must leave as it was: the source (contents too, where it is not deeper than the
// path limit) and everything in the destination's parent but the destination.
class Untouched {
 public:
  Untouched(const fs::path& source, const fs::path& parent, const std::string& destinationName,
            bool compareContents = true)
      : source_(source),
        parent_(parent),
        destinationName_(destinationName),
        compareContents_(compareContents) {
    if (compareContents_) sourceContents_ = TreeListing(source_);
    outside_ = ListingWithout(parent_, destinationName_);
  }
  void Check() const {
    if (compareContents_) {
      EXPECT_EQ(TreeListing(source_), sourceContents_);
    }
    EXPECT_EQ(ListingWithout(parent_, destinationName_), outside_);
  }

 private:
  fs::path source_;
  fs::path parent_;
  std::string destinationName_;
  bool compareContents_;
  Lines sourceContents_;
  Lines outside_;
};

// A package, a shipped tree packed from it and a bystander in one working directory.
struct Scene {
  explicit Scene(const fs::path& directory) : work(directory) {
    MakePackage(work / "pkg");
    WriteFile(work / "bystander.txt", "keep");
  }
  void MakeShipped() {
    const ProcessResult packed = Uippack({"-p", "pkg", "shipped", "-uip"}, work);
    ASSERT_EQ(packed.exitStatus, 0) << packed.out;
    ASSERT_TRUE(WaitForRemovals(work / "shipped"));
  }
  fs::path work;
};

// A copy of uippack with its tools beside it (the real ones linked), so that one can be faked.
class ToolBox {
 public:
  explicit ToolBox(const fs::path& directory) : directory_(directory) {
    fs::create_directories(directory_);
    fs::copy_file(BinDir() / "uippack", directory_ / "uippack");
    for (const char* tool : {"7z", "luac", "ScriptStager"}) {
      fs::create_symlink(Real(tool), directory_ / tool);
    }
  }
  static fs::path Real(const std::string& tool) { return fs::canonical(BinDir() / tool); }
  // Replaces the tool by a shell script with this body.
  void Fake(const std::string& tool, const std::string& body, bool executable = true) {
    fs::remove(directory_ / tool);
    WriteFile(directory_ / tool, "#!/bin/sh\n" + body);
    fs::permissions(directory_ / tool, executable ? fs::perms(0755) : fs::perms(0644));
  }
  ProcessResult Run(std::vector<std::string> arguments, const fs::path& cwd) const {
    arguments.insert(arguments.begin(), (directory_ / "uippack").string());
    return RunProcess(arguments, cwd);
  }

 private:
  fs::path directory_;
};

// Lowers a soft resource limit of this process, and so of the children it starts, for the
// lifetime of the object.
class ScopedLimit {
 public:
  ScopedLimit(int resource, rlim_t value) : resource_(resource) {
    getrlimit(resource_, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = value;
    setrlimit(resource_, &lowered);
  }
  ~ScopedLimit() { setrlimit(resource_, &saved_); }
  ScopedLimit(const ScopedLimit&) = delete;
  ScopedLimit& operator=(const ScopedLimit&) = delete;

 private:
  int resource_;
  rlimit saved_{};
};

bool CanCreateEntriesIn(const fs::path& directory) {
  const fs::path probe = directory / "probe";
  if (mkdir(probe.c_str(), 0755) != 0) return false;
  rmdir(probe.c_str());
  return true;
}

// A directory in which nothing can be created, by whichever means works here: its permission
// bits (not for root), its immutable flag, or a read-only bind mount.
class ReadOnlyDirectory {
 public:
  explicit ReadOnlyDirectory(const fs::path& directory) : directory_(directory) {
    fs::create_directories(directory_);
    fs::permissions(directory_, fs::perms(0555));
    if (!CanCreateEntriesIn(directory_)) return;
    fd_ = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      immutable_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (immutable_ && !CanCreateEntriesIn(directory_)) return;
    mounted_ =
        RunProcess({"/bin/mount", "--bind", directory_.string(), directory_.string()}).exitStatus ==
        0;
    if (mounted_) {
      RunProcess({"/bin/mount", "-o", "remount,bind,ro", directory_.string()});
    }
  }
  ~ReadOnlyDirectory() {
    if (mounted_) RunProcess({"/bin/umount", directory_.string()});
    if (immutable_) {
      int flags = 0;
      ioctl(fd_, FS_IOC_GETFLAGS, &flags);
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (fd_ >= 0) close(fd_);
    fs::permissions(directory_, fs::perms(0755));
  }
  ReadOnlyDirectory(const ReadOnlyDirectory&) = delete;
  ReadOnlyDirectory& operator=(const ReadOnlyDirectory&) = delete;
  bool works() const { return !CanCreateEntriesIn(directory_); }

 private:
  fs::path directory_;
  int fd_ = -1;
  bool immutable_ = false;
  bool mounted_ = false;
};

// A small tmpfs mounted on a directory, where this machine lets us mount one.
class SmallDisk {
 public:
  SmallDisk(const fs::path& directory, std::size_t bytes) : directory_(directory) {
    fs::create_directories(directory_);
    mounted_ = RunProcess({"/bin/mount", "-t", "tmpfs", "-o", "size=" + std::to_string(bytes),
                           "tmpfs", directory_.string()})
                   .exitStatus == 0;
  }
  ~SmallDisk() {
    // Lazy: a detached removal may still hold a directory there.
    if (mounted_) RunProcess({"/bin/umount", "-l", directory_.string()});
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  fs::path directory_;
  bool mounted_ = false;
};

// Removes a tree that may be deeper than the path length limit (std::filesystem cannot).
void RemoveDeepTree(const fs::path& path) { RunProcess({"/bin/rm", "-rf", path.string()}); }

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state);
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Destinations that cannot be used

TEST(FaultDestination, MissingParentOrAFileFailsWithTheErrorLine) {
  TempDir temp;
  Scene scene(temp / "work");
  scene.MakeShipped();
  WriteFile(temp / "work/file.txt", "a file, not a directory");
  struct Case {
    std::string option, source, verdict;
  };
  for (const Case& c : {Case{"-p", "pkg", "Pack"}, Case{"-u", "shipped", "Unpack"}}) {
    for (const std::string destination : {"missing/out", "file.txt"}) {
      const std::string top = destination.substr(0, destination.find('/'));
      const Untouched untouched(scene.work / c.source, scene.work, top);
      const ProcessResult result = Uippack({c.option, c.source, destination}, scene.work);
      SCOPED_TRACE(c.option + " into " + destination);
      EXPECT_EQ(result.exitStatus, kFailureStatus) << result.out;
      EXPECT_EQ(OwnLines(result.out).back(), c.verdict + " error,source path = " + c.source +
                                                 ", destination path = " + destination);
      EXPECT_FALSE(fs::exists(scene.work / "missing"));
      EXPECT_EQ(ReadFile(scene.work / "file.txt"), "a file, not a directory");
      untouched.Check();
    }
  }
}

TEST(FaultDestination, ReadOnlyParentFailsWithTheErrorLine) {
  TempDir temp;
  Scene scene(temp / "work");
  scene.MakeShipped();
  const ReadOnlyDirectory readOnly(scene.work / "ro");
  if (!readOnly.works()) GTEST_SKIP() << "no way to make a directory read-only here";
  for (const auto& [option, source, verdict] :
       {std::tuple{"-p", "pkg", "Pack"}, std::tuple{"-u", "shipped", "Unpack"}}) {
    const Untouched untouched(scene.work / source, scene.work, "ro");
    const ProcessResult result = Uippack({option, source, "ro/out"}, scene.work);
    EXPECT_EQ(result.exitStatus, kFailureStatus) << result.out;
    EXPECT_EQ(OwnLines(result.out).back(), std::string(verdict) + " error,source path = " + source +
                                               ", destination path = ro/out");
    EXPECT_TRUE(fs::is_empty(scene.work / "ro"));
    untouched.Check();
  }
}

// ---------------------------------------------------------------------------------------------
// Tools that go wrong. Their exit statuses are not read, so the run goes on with every item's
// line; only a tool that cannot be started at all fails the run.

TEST(FaultTools, CrashingFailingAndSilentToolsLetTheRunEndNormally) {
  struct Case {
    const char* what;
    const char* option;
    const char* tool;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"7z crashes after writing part of its archive", "-p", "7z",
       "printf 'PK\\003\\004' > \"$3\"\nkill -SEGV $$\n"},
      {"7z crashes while extracting", "-u", "7z", "kill -SEGV $$\n"},
      {"luac exits with an error", "-p", "luac", "echo 'luac: refused' >&2\nexit 1\n"},
      {"7z writes nothing", "-p", "7z", "exit 0\n"},
      {"ScriptStager writes nothing", "-p", "ScriptStager", "exit 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir temp;
    Scene scene(temp / "work");
    scene.MakeShipped();
    ToolBox tools(temp / "tools");
    tools.Fake(c.tool, c.body);
    const bool pack = std::string(c.option) == "-p";
    const std::string source = pack ? "pkg" : "shipped";
    const Untouched untouched(scene.work / source, scene.work, "out");
    const ProcessResult result = tools.Run({c.option, source, "out"}, scene.work);
    ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, pack ? "Pack" : "Unpack"));
    EXPECT_EQ(result.exitStatus, 0) << result.out;
    const Lines lines = OwnLines(result.out);
    if (pack) {
      EXPECT_NE(std::find(lines.begin(), lines.end(), "Compile out/layout/main.lua finished!"),
                lines.end());
      EXPECT_NE(std::find(lines.begin(), lines.end(), "Compress out/layout finished!"),
                lines.end());
      ASSERT_TRUE(WaitForRemovals(scene.work / "out"));
    } else {
      EXPECT_EQ(lines[1], "Decompress out/layout.zip finished!");
      ASSERT_TRUE(WaitForDeletions(scene.work / "out"));
    }
    untouched.Check();
  }
}

TEST(FaultTools, ToolThatCannotBeStartedFailsTheRun) {
  TempDir temp;
  Scene scene(temp / "work");
  ToolBox tools(temp / "tools");
  tools.Fake("luac", "exit 0\n", /*executable=*/false);
  const Untouched untouched(scene.work / "pkg", scene.work, "out");
  const ProcessResult result = tools.Run({"-p", "pkg", "out"}, scene.work);
  ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, "Pack"));
  EXPECT_EQ(result.exitStatus, kFailureStatus);
  const Lines lines = OwnLines(result.out);
  ASSERT_GE(lines.size(), 3u);
  const std::string& failure = lines[lines.size() - 2];
  EXPECT_EQ(failure.rfind("Compile out/layout/", 0), 0u) << failure;
  EXPECT_NE(failure.find(".lua failed, CreateProcess failed!,cmdline = \""), std::string::npos)
      << failure;
  untouched.Check();
}

TEST(FaultTools, HangingToolKilledFromOutsideLetsTheRunGoOn) {
  TempDir temp;
  Scene scene(temp / "work");
  ToolBox tools(temp / "tools");
  const fs::path marker = temp / "hung-once";
  const fs::path pidFile = temp / "hung.pid";
  // The first compilation hangs; the later ones are real.
  tools.Fake("luac", "if [ ! -e '" + marker.string() + "' ]; then\n  : > '" + marker.string() +
                         "'\n  echo $$ > '" + pidFile.string() + ".new'\n  mv '" +
                         pidFile.string() + ".new' '" + pidFile.string() +
                         "'\n  exec sleep 300\nfi\nexec '" + ToolBox::Real("luac").string() +
                         "' \"$@\"\n");
  const Untouched untouched(scene.work / "pkg", scene.work, "out");
  auto run = std::async(std::launch::async, [&] {
    return tools.Run({"-p", "pkg", "out"}, scene.work);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(pidFile) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(fs::exists(pidFile));
  EXPECT_EQ(run.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  const pid_t hung = static_cast<pid_t>(std::stol(ReadFile(pidFile)));
  ASSERT_EQ(kill(hung, SIGKILL), 0);
  const ProcessResult result = run.get();
  ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, "Pack"));
  EXPECT_EQ(result.exitStatus, 0);
  ASSERT_TRUE(WaitForRemovals(scene.work / "out"));
  untouched.Check();
}

// ---------------------------------------------------------------------------------------------
// A full disk. The container write fails; what is left must not pass for a container.

TEST(FaultDiskFull, FileSizeLimitDuringTheWrapLeavesNoValidContainer) {
  TempDir temp;
  Scene scene(temp / "work");
  WriteFile(scene.work / "pkg/layout/big.bin", RandomBytes(200000, 1));
  const Untouched untouched(scene.work / "pkg", scene.work, "out");
  for (const std::string mode : {"", "-uip"}) {
    SCOPED_TRACE("mode '" + mode + "'");
    // The archive's size, from a run into the same destination that makes no container (the
    // compiled scripts name their path, so the archive's size depends on it).
    ASSERT_EQ(Uippack({"-p", "pkg", "out", "zip"}, scene.work).exitStatus, 0);
    const auto archiveSize = fs::file_size(scene.work / "out/layout.zip");
    ASSERT_TRUE(WaitForRemovals(scene.work / "out"));
    fs::remove_all(scene.work / "out");

    ProcessResult result;
    {
      // Room for the archive, not for the 104 bytes longer container.
      const ScopedLimit limit(RLIMIT_FSIZE, archiveSize + 52);
      std::vector<std::string> arguments = {"-p", "pkg", "out"};
      if (!mode.empty()) arguments.push_back(mode);
      result = Uippack(arguments, scene.work);
    }
    ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, "Pack"));
    EXPECT_EQ(result.exitStatus, 0);  // a failed wrap does not stop the run
    ASSERT_TRUE(WaitForRemovals(scene.work / "out"));
    EXPECT_FALSE(IsValidContainer(scene.work / "out/layout.uip"));
    // The archive stays, or is put back when the mode had deleted it.
    EXPECT_EQ(fs::file_size(scene.work / "out/layout.zip"), archiveSize);
    EXPECT_TRUE(ArchiveTestsGood(scene.work / "out/layout.zip"));
    untouched.Check();
    fs::remove_all(scene.work / "out");
  }
}

TEST(FaultDiskFull, SmallFileSystemFillsUpDuringTheWrapAndTheUnwrap) {
  TempDir temp;
  Scene scene(temp / "work");
  WriteFile(scene.work / "pkg/layout/big.bin", RandomBytes(1 << 20, 2));
  scene.MakeShipped();
  struct Case {
    const char* option;
    const char* source;
    const char* mode;
    std::size_t diskBytes;  // room for the copy and one more image of the archive, not two
  };
  for (const Case& c : {Case{"-p", "pkg", "", 2560 << 10}, Case{"-p", "pkg", "-uip", 2560 << 10},
                        Case{"-u", "shipped", "", 1536 << 10}}) {
    SCOPED_TRACE(std::string(c.option) + " " + c.mode);
    const SmallDisk disk(scene.work / "disk", c.diskBytes);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const Untouched untouched(scene.work / c.source, scene.work, "disk");
    std::vector<std::string> arguments = {c.option, c.source, "disk/out"};
    if (*c.mode != '\0') arguments.push_back(c.mode);
    const ProcessResult result = Uippack(arguments, scene.work);
    if (std::string(c.option) == "-p") {
      ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, "Pack"));
      ASSERT_TRUE(WaitForRemovals(scene.work / "disk/out"));
      EXPECT_TRUE(ArchiveTestsGood(scene.work / "disk/out/layout.zip"));  // it was the wrap
      EXPECT_FALSE(IsValidContainer(scene.work / "disk/out/layout.uip"));
    } else {
      // The unwrapped archive is cut short; the extraction fails, unread, and the run goes on.
      ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, "Unpack"));
      ASSERT_TRUE(WaitForDeletions(scene.work / "disk/out"));
    }
    untouched.Check();
  }
}

// ---------------------------------------------------------------------------------------------
// Trees deeper than the path length limit, and paths near it.

// A chain of `levels` directories named "ddd" below base, with `file` made every `every` levels
// and at the bottom, built step by step: the full path is longer than the system takes.
void MakeDeepChain(const fs::path& base, int levels, int every, const std::string& file,
                   const std::string& content) {
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int level = 1; level <= levels; ++level) {
    ASSERT_EQ(mkdirat(fd, "ddd", 0755), 0);
    const int next = openat(fd, "ddd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    if (level % every == 0 || level == levels) {
      const int out = openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      ASSERT_GE(out, 0);
      ASSERT_EQ(write(out, content.data(), content.size()), static_cast<ssize_t>(content.size()));
      close(out);
    }
  }
  close(fd);
}

TEST(FaultDeep, TreesDeeperThanThePathLimitEndCleanly) {
  TempDir temp;
  Scene scene(temp / "work");
  scene.MakeShipped();
  const std::string container = ReadFile(scene.work / "shipped/layout.uip");
  // 2,500 levels of "ddd/" are 10,000 bytes, well past PATH_MAX (4,096); the copy and the walks
  // go down as far as paths reach, about 1,000 levels.
  MakeDeepChain(scene.work / "pkg/layout", 2500, 500, "deep.lua", "print('deep')\n");
  MakeDeepChain(scene.work / "shipped", 2500, 500, "layout.uip", container);
  struct Case {
    const char* option;
    const char* source;
    rlim_t openFiles;  // listings kept open along the way run out long before the bottom
  };
  for (const Case& c :
       {Case{"-p", "pkg", 64}, Case{"-p", "pkg", RLIM_INFINITY}, Case{"-u", "shipped", 64}}) {
    SCOPED_TRACE(std::string(c.option) + " with " + std::to_string(c.openFiles) + " files");
    const Untouched untouched(scene.work / c.source, scene.work, "out", /*compareContents=*/false);
    ProcessResult result;
    {
      rlimit current{};
      getrlimit(RLIMIT_NOFILE, &current);
      const ScopedLimit limit(RLIMIT_NOFILE, std::min(c.openFiles, current.rlim_cur));
      result = Uippack({c.option, c.source, "out"}, scene.work);
    }
    ASSERT_NO_FATAL_FAILURE(
        ExpectVerdict(result, std::string(c.option) == "-p" ? "Pack" : "Unpack"));
    // A run that ends early leaves its destination as far as it got.
    if (result.exitStatus == 0 && std::string(c.option) == "-p") {
      ASSERT_TRUE(WaitForRemovals(scene.work / "out"));
    } else if (result.exitStatus == 0) {
      // Only the top of the copy can be walked in full; the containers deep down stay.
      ASSERT_TRUE(WaitUntilGone(scene.work / "out/layout.uip"));
      ASSERT_TRUE(WaitUntilGone(scene.work / "out/res/images.zip"));
    }
    untouched.Check();
    RemoveDeepTree(scene.work / "out");
  }
  RemoveDeepTree(scene.work / "pkg");
  RemoveDeepTree(scene.work / "shipped");
}

TEST(FaultDeep, PathsNearTheLengthLimitFailTheirItemCleanly) {
  TempDir temp;
  Scene scene(temp / "work");
  // Names of 255 bytes (the longest a name may be), nested to near 4,096 bytes in all; the
  // command line of a script down there does not fit its buffer.
  fs::path directory = scene.work / "pkg/layout";
  while (directory.string().size() + 2 * 256 < 4000) directory /= std::string(255, 'n');
  WriteFile(directory / (std::string(251, 's') + ".lua"), "print('long')\n");
  WriteFile(scene.work / "pkg/res" / std::string(255, 'r') / "x.txt", "x");
  const Untouched untouched(scene.work / "pkg", scene.work, "out");
  const ProcessResult result = Uippack({"-p", "pkg", "out"}, scene.work);
  ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, "Pack"));
  EXPECT_EQ(result.exitStatus, kFailureStatus);
  const Lines lines = OwnLines(result.out);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].rfind("PreCompile out/layout/nnn", 0), 0u);
  EXPECT_NE(lines[lines.size() - 2].find(" failed, CreateProcess failed!,cmdline = "),
            std::string::npos);
  untouched.Check();
}

// ---------------------------------------------------------------------------------------------
// Hostile trees: links out of the tree, special files and names that climb. A run ends, and
// writes nothing outside its destination, the source and every link target included.

TEST(FaultHostile, LinksAndSpecialFilesInATreeReachNothingOutsideTheDestination) {
  TempDir temp;
  Scene scene(temp / "work");
  scene.MakeShipped();
  const fs::path& work = scene.work;
  WriteFile(work / "shared.lua", "return 7\n");
  WriteFile(work / "victim.zip", "not an archive");
  WriteFile(work / "elsewhere/kept.txt", "kept");
  // Pack: scripts that are links (relative, absolute, to a device), FIFOs under layout and res,
  // a resource directory that is a link.
  fs::create_symlink("../../shared.lua", work / "pkg/layout/relative.lua");
  fs::create_symlink(work / "shared.lua", work / "pkg/layout/absolute.lua");
  fs::create_symlink("/dev/zero", work / "pkg/layout/zero.lua");
  ASSERT_EQ(mkfifo((work / "pkg/layout/fifo.lua").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((work / "pkg/res/images/fifo.png").c_str(), 0644), 0);
  fs::create_symlink(work / "elsewhere", work / "pkg/res/linked");
  // Unpack: the archive a container turns into is a link, a resource directory beside its
  // archive is a link, an archive whose name climbs, a FIFO named like an archive.
  fs::create_symlink(work / "victim.zip", work / "shipped/layout.zip");
  fs::create_symlink(work / "elsewhere", work / "shipped/res/images");
  fs::copy_file(work / "shipped/res/strings.zip", work / "shipped/res/...zip");
  fs::copy_file(work / "shipped/res/strings.zip", work / "shipped/.zip");
  ASSERT_EQ(mkfifo((work / "shipped/res/pipe.zip").c_str(), 0644), 0);

  for (const auto& [option, source, verdict] :
       {std::tuple{"-p", "pkg", "Pack"}, std::tuple{"-u", "shipped", "Unpack"}}) {
    SCOPED_TRACE(option);
    const Untouched untouched(work / source, work, "out", /*compareContents=*/true);
    const ProcessResult result = Uippack({option, source, "out"}, work);
    ASSERT_NO_FATAL_FAILURE(ExpectVerdict(result, verdict));
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    // The archives that have no directory of their own stay where they are.
    ASSERT_TRUE(std::string(option) == "-p" ? WaitForRemovals(work / "out")
                                            : WaitUntilGone(work / "out/res/images.zip"));
    if (std::string(option) == "-u") {
      EXPECT_TRUE(fs::is_regular_file(work / "out/res/...zip"));
      EXPECT_NE(result.err.find("left out/res/...zip alone"), std::string::npos) << result.err;
    }
    untouched.Check();
    EXPECT_EQ(ReadFile(work / "shared.lua"), "return 7\n");
    EXPECT_EQ(ReadFile(work / "victim.zip"), "not an archive");
    for (const auto& entry : fs::recursive_directory_iterator(work / "out")) {
      EXPECT_TRUE(entry.is_directory() || entry.is_regular_file()) << entry.path();
    }
    fs::remove_all(work / "out");
  }
}

// ---------------------------------------------------------------------------------------------
// A console nobody reads, and two runs at once.

// Runs uippack with its standard output on a pipe whose reader has already gone.
int RunWithBrokenConsole(const std::vector<std::string>& arguments, const fs::path& cwd) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
  close(pipeEnds[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<std::string> argv = arguments;
  argv.insert(argv.begin(), (BinDir() / "uippack").string());
  std::vector<char*> pointers;
  for (auto& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(FaultConsole, ReaderOfTheConsoleGoneDoesNotStopTheRun) {
  TempDir temp;
  Scene scene(temp / "work");
  const Untouched untouched(scene.work / "pkg", scene.work, "out");
  ASSERT_EQ(RunWithBrokenConsole({"-p", "pkg", "out"}, scene.work), 0);
  ASSERT_TRUE(WaitForRemovals(scene.work / "out"));
  EXPECT_TRUE(IsValidContainer(scene.work / "out/layout.uip"));
  EXPECT_TRUE(ArchiveTestsGood(scene.work / "out/layout.zip"));
  EXPECT_TRUE(ArchiveTestsGood(scene.work / "out/res/images.zip"));
  untouched.Check();
}

TEST(FaultConcurrent, TwoRunsIntoOneDestinationEachEndCleanly) {
  TempDir temp;
  Scene scene(temp / "work");
  scene.MakeShipped();
  for (const auto& [option, source, verdict] :
       {std::tuple{"-p", "pkg", "Pack"}, std::tuple{"-u", "shipped", "Unpack"}}) {
    SCOPED_TRACE(option);
    const Untouched untouched(scene.work / source, scene.work, "out");
    auto first = std::async(std::launch::async, [&] {
      return Uippack({option, source, "out"}, scene.work);
    });
    auto second = std::async(std::launch::async, [&] {
      return Uippack({option, source, "out"}, scene.work);
    });
    ASSERT_NO_FATAL_FAILURE(ExpectVerdict(first.get(), verdict));
    ASSERT_NO_FATAL_FAILURE(ExpectVerdict(second.get(), verdict));
    // Not asserted: one run may remove what the other has just copied before it is processed.
    if (std::string(option) == "-p") {
      WaitForRemovals(scene.work / "out");
    } else {
      WaitForDeletions(scene.work / "out");
    }
    untouched.Check();
    RemoveDeepTree(scene.work / "out");
  }
}

}  // namespace
}  // namespace uippack::testing
