#include "tests/test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace uippack::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "uippack-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  // Children may have made parts read-only, or built trees deeper than PATH_MAX.
  try {
    RunProcess({"/bin/sh", "-c", "chmod -R u+w \"$0\"; rm -rf \"$0\"", path_.string()});
  } catch (const std::exception&) {  // left behind in the temporary folder
  }
}

void WriteFile(const fs::path& path, const std::string& content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void MakeTree(const fs::path& root, const Lines& entries, const std::string& content) {
  for (const auto& entry : entries)
    entry.ends_with('/') ? MakeDirs(root / entry)
                         : WriteFile(root / entry, content.empty() ? entry : content);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// An unnamed file for a child's output. Not a pipe: what a child leaves running (Wine's server
// and services, detached removals) may hold its end long after the child has ended.
static int OutputFile() {
  const int fd = open(fs::temp_directory_path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot make a temporary file");
  return fd;
}

ProcessResult RunProcess(const Lines& argv, const fs::path& cwd, const Lines& extraEnv) {
  // env(1) goes to the working directory and adds the variables, or replaces those already set.
  Lines args = {"/usr/bin/env", "-C", (fs::path(".") / cwd).string()};
  args.insert(args.end(), extraEnv.begin(), extraEnv.end());
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  const int out = OutputFile(), err = OutputFile();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  int status = 0;
  const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) waitpid(pid, &status, 0);
  const auto output = [](int fd) { return ReadFile("/proc/self/fd/" + std::to_string(fd)); };
  ProcessResult r{-1, output(out), output(err) + (rc != 0 ? "spawn failed" : "")};
  close(out), close(err);
  if (rc == 0) r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

fs::path BinDir() {
  const char* value = std::getenv("UIPPACK_BIN_DIR");
  return fs::path(value != nullptr ? value : UIPPACK_DEFAULT_BIN_DIR);
}

Lines TreeListing(const fs::path& root) {
  Lines lines;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string(),
                      content = entry.is_regular_file() ? ReadFile(entry.path()) : "";
    if (entry.is_directory()) lines.push_back("d " + relative);
    if (entry.is_regular_file())
      lines.push_back("f " + relative + " " + std::to_string(content.size()) + " " +
                      std::to_string(std::hash<std::string>{}(content)));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

int InChild(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Limit(int resource, unsigned long value) {
  const rlimit limit{value, value};
  setrlimit(resource, &limit);
}

}  // namespace uippack::testing
