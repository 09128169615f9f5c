#include "tools/script_stager/staged_file.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace uippack::script_stager {
namespace {

std::string LastSystemError() { return std::generic_category().message(errno); }

// Removes the temporary file unless it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (committed_) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& path() const { return path_; }
  void Commit() { committed_ = true; }

 private:
  fs::path path_;
  bool committed_ = false;
};

// A fresh name beside `target`. The suffix keeps a leftover (after a kill) from ever looking
// like a script to the packer, and the random part keeps parallel runs apart.
fs::path TemporaryNameBeside(const fs::path& target) {
  std::random_device randomSource;
  const std::uint64_t random = (std::uint64_t{randomSource()} << 32) | randomSource();
  char hex[17] = {};
  std::to_chars(hex, hex + 16, random, 16);
  fs::path name = target;
  name += ".";
  name += hex;
  name += ".stagetmp";
  return name;
}

}  // namespace

std::string Display(const fs::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

void PrintError(std::string_view message) {
  std::fprintf(stderr, "ScriptStager: %.*s\n", static_cast<int>(message.size()), message.data());
}

std::string ProblemAt(const fs::path& file, const TextError& error) {
  return Display(file) + ":" + std::to_string(error.line) + ": " + error.message;
}

bool ReadWholeFile(const fs::path& path, std::string* contents, std::string* error) {
  // Only a regular file is read (a link to one will do): a FIFO or a device could block the
  // read forever or never end.
  std::error_code statusError;
  const fs::file_status status = fs::status(path, statusError);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    *error = "cannot read " + Display(path) + ": it is " +
             (fs::is_directory(status) ? "a directory" : "not a regular file");
    return false;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + Display(path) + ": " + LastSystemError();
    return false;
  }
  contents->clear();
  char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    contents->append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) {
    *error = "cannot read " + Display(path);
    return false;
  }
  return true;
}

bool WriteReplacing(const fs::path& target, std::string_view contents, std::string* error) {
  TemporaryFile temporary(TemporaryNameBeside(target));
  {
    errno = 0;
#ifdef _WIN32
    std::FILE* out = _wfopen(temporary.path().c_str(), L"wb");
#else
    // "x": the name must be new, so nothing planted there (a link above all) is written through.
    std::FILE* out = std::fopen(temporary.path().c_str(), "wbx");
#endif
    if (out == nullptr) {
      *error = "cannot create " + Display(temporary.path()) + ": " + LastSystemError();
      return false;
    }
    const bool written = std::fwrite(contents.data(), 1, contents.size(), out) == contents.size();
    if (std::fclose(out) != 0 || !written) {
      *error = "cannot write " + Display(temporary.path());
      return false;
    }
  }
  // An in-place rewrite keeps the script's permissions.
  std::error_code ignored;
  const fs::file_status existing = fs::status(target, ignored);
  if (fs::is_regular_file(existing)) {
    fs::permissions(temporary.path(), existing.permissions(), ignored);
  }
  std::error_code renameError;
  fs::rename(temporary.path(), target, renameError);
  if (renameError) {
    *error = "cannot replace " + Display(target) + ": " + renameError.message();
    return false;
  }
  temporary.Commit();
  return true;
}

}  // namespace uippack::script_stager
