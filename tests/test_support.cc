#include "tests/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace uippack::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "uippack-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Children may have made parts read-only; make everything writable before removing it.
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

void MakeDirs(const fs::path& path) { fs::create_directories(path); }

void WriteFile(const fs::path& path, const std::string& content) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path.string());
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const fs::path& workingDirectory,
                         const std::vector<std::string>& extraEnv) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
  }

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  for (const auto& extra : extraEnv) {
    const auto name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(env, [&](const std::string& v) { return v.rfind(name, 0) == 0; });
    env.push_back(extra);
  }
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  ProcessResult result;
  if (rc != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.exitStatus = 127;
    result.err = "spawn failed";
    return result;
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

static fs::path PathFromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return fs::path(value != nullptr ? value : fallback);
}

fs::path BinDir() { return PathFromEnvironment("UIPPACK_BIN_DIR", UIPPACK_DEFAULT_BIN_DIR); }
fs::path SourceDir() {
  return PathFromEnvironment("UIPPACK_SOURCE_DIR", UIPPACK_DEFAULT_SOURCE_DIR);
}

std::vector<std::string> TreeListing(const fs::path& root) {
  std::vector<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const auto relative = fs::relative(entry.path(), root).string();
    if (entry.is_directory()) {
      lines.push_back("d " + relative);
    } else if (entry.is_regular_file()) {
      const std::string content = ReadFile(entry.path());
      const auto crc = crc32(0L, reinterpret_cast<const Bytef*>(content.data()),
                             static_cast<uInt>(content.size()));
      lines.push_back("f " + relative + " " + std::to_string(content.size()) + " " +
                      std::to_string(crc));
    }
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

bool WaitUntilGone(const fs::path& path, double timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(timeoutSeconds * 1000));
  std::error_code ignored;
  while (fs::exists(fs::symlink_status(path, ignored))) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace uippack::testing
