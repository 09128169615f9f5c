// Random access to an archive's bytes, from a file as it lies or from inside a container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "uipcheck/tree_files.h"

namespace uipcheck {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // How much one read should ask for, at most, to keep the calls few.
  virtual std::size_t ChunkSize() const = 0;
  // Fills buffer with the length bytes at offset, fewer only where the source ends.
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length,
                      std::size_t* got, std::string* error) = 0;
};

// An archive file as it lies on disk.
class FileSource : public ByteSource {
 public:
  explicit FileSource(InputFile& file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }
  std::size_t ChunkSize() const override { return 512 * 1024; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length, std::size_t* got,
              std::string* error) override {
    return file_.ReadAt(offset, buffer, length, got, error);
  }

 private:
  InputFile& file_;
};

}  // namespace uipcheck
