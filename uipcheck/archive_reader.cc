#include "uipcheck/archive_reader.h"

#include <archive_entry.h>

#include <cerrno>
#include <string_view>

namespace uipcheck {

ArchiveReader::ArchiveReader(ByteSource& source, std::vector<std::uint8_t>& chunk)
    : source_(source), archive_(archive_read_new()), chunk_(chunk) {
  chunk_.resize(source.ChunkSize());
}

bool ArchiveReader::Open(std::string* error) {
  if (!archive_) {
    *error = "no memory for the archive reader";
    return false;
  }
  archive* handle = archive_.get();
  // The streaming reader, front to back: the entries a reader that starts at the first byte
  // extracts. Where they lie is held against the central directory entry by entry.
  archive_read_support_format_zip_streamable(handle);
  // The CRC-32 is checked once, by ContentCheck, against the central directory's.
  archive_read_set_options(handle, "zip:ignorecrc32");
  archive_read_set_read_callback(handle, &ArchiveReader::ReadCallback);
  archive_read_set_callback_data(handle, this);
  if (archive_read_open1(handle) != ARCHIVE_OK) {
    *error = this->error();
    return false;
  }
  return true;
}

ArchiveReader::Step ArchiveReader::Next(ArchiveEntry* entry) {
  archive_entry* header = nullptr;
  const int result = archive_read_next_header(archive_.get(), &header);
  if (result == ARCHIVE_EOF) return Step::End;
  // libarchive hands out its entry whatever the result.
  if (result == ARCHIVE_FATAL) return Step::Fatal;
  entry->headerAt = static_cast<std::uint64_t>(archive_read_header_position(archive_.get()));
  entry->warning = result == ARCHIVE_WARN ? error() : std::string();

#ifdef _WIN32
  // Here libarchive holds the name as UTF-16 and would make UTF-8 of it through the C runtime's
  // code page, which msvcrt.dll cannot set to UTF-8: the wide name, made UTF-8 as paths are.
  const wchar_t* wide = archive_entry_pathname_w(header);
  entry->name = wide != nullptr ? DisplayText(fs::path(wide)) : "";
#else
  const char* name = archive_entry_pathname_utf8(header);
  if (name == nullptr) name = archive_entry_pathname(header);
  entry->name = name != nullptr ? name : "";
#endif
  while (!entry->name.empty() && entry->name.back() == '/') entry->name.pop_back();
  const auto type = archive_entry_filetype(header);
  entry->isDirectory = type == AE_IFDIR;
  entry->isFile = type == AE_IFREG;
  // The ZIP reader names each entry's method in the format name, "ZIP 1.0 (uncompressed)".
  const char* format = archive_format_name(archive_.get());
  entry->method = format != nullptr ? format : "";
  return result == ARCHIVE_FAILED ? Step::BadEntry : Step::Entry;
}

bool ArchiveReader::ReadData(const std::function<void(const std::uint8_t*, std::size_t)>& sink,
                             std::string* error) {
  std::uint64_t delivered = 0;
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int result = archive_read_data_block(archive_.get(), &block, &size, &offset);
    if (result == ARCHIVE_EOF) return true;
    // A warning is damage too: the library warns of a bad CRC and of sizes that do not add up.
    if (result < ARCHIVE_OK) {
      *error = this->error();
      return false;
    }
    // A ZIP entry has no holes: a block that starts anywhere but where the last one ended is
    // damage.
    if (offset != static_cast<la_int64_t>(delivered)) {
      *error = "a gap in the entry's data";
      return false;
    }
    // An empty block may come without an address; the sinks never see one.
    if (size == 0) continue;
    sink(static_cast<const std::uint8_t*>(block), size);
    delivered += size;
  }
}

std::string ArchiveReader::error() const {
  const char* text = archive_ ? archive_error_string(archive_.get()) : nullptr;
  return text != nullptr ? text : "unknown archive error";
}

// Reads go on from where the last one ended, a chunk at a time; at the end, none are left.
la_ssize_t ArchiveReader::ReadCallback(archive* handle, void* self, const void** buffer) {
  auto& reader = *static_cast<ArchiveReader*>(self);
  std::string error;
  std::size_t got = 0;
  if (!reader.source_.ReadAt(reader.position_, reader.chunk_.data(), reader.chunk_.size(), &got,
                             &error)) {
    archive_set_error(handle, EIO, "%s", error.c_str());
    return ARCHIVE_FATAL;
  }
  *buffer = reader.chunk_.data();
  reader.position_ += got;
  return static_cast<la_ssize_t>(got);
}

}  // namespace uipcheck
