// Each file is held exclusively, read whole with one read and written whole with one write,
// flushed before it is closed. The RAII holders close the files and free the buffers on every
// way out.
#include "container/container_operations.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "container/container_format.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/process_identity.h"

namespace uippack::container {
namespace {

using platform::ExclusiveFile;
using platform::FileBuffer;

// Reads the whole of an open file into *image. Files of 4 GiB or more are refused: the format
// counts lengths in 32 bits. Memory that cannot be had is a failure like any other.
bool ReadWholeFile(ExclusiveFile& file, std::optional<FileBuffer>* image) {
  std::uint64_t length = 0;
  if (!file.GetSize(&length) || length > kMaxContainerFileSize) return false;
  image->emplace(static_cast<std::size_t>(length));
  return (*image)->Data() != nullptr && file.Read((*image)->Data(), (*image)->Size());
}

// Whether the stored checksum matches the bytes from dataOffset to the end of the file, read
// in bounded parts after the header: a damaged or sparse file is refused without ever being
// held whole. The file's position is left anywhere.
bool ChecksumMatches(ExclusiveFile& file, const std::uint8_t* headerBytes,
                     const ContainerHeader& header, std::uint64_t size) {
  std::uint32_t crc = 0;
  std::uint64_t position = kContainerHeaderSize;
  if (header.dataOffset < kContainerHeaderSize) {
    crc = ContinueChecksum(crc, headerBytes + header.dataOffset,
                           kContainerHeaderSize - header.dataOffset);
  }
  std::vector<std::uint8_t> part(std::min<std::uint64_t>(size, 1 << 20));
  while (position < size) {
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(part.size(), size - position));
    if (!file.Read(part.data(), length)) return false;
    // Only what lies from dataOffset on counts.
    const std::uint64_t skip = header.dataOffset > position
                                   ? std::min<std::uint64_t>(header.dataOffset - position, length)
                                   : 0;
    crc = ContinueChecksum(crc, part.data() + skip, length - static_cast<std::size_t>(skip));
    position += length;
  }
  return crc == header.checksum;
}

// Opens and checks a container, header first: its magic before anything else is read, then
// its checksum streamed. Only a container that passes is read whole into *image; the file
// stays held in *file from the check to the use, so no other opener can change it in between.
bool ReadValidContainer(const std::wstring& path, ExclusiveFile* file,
                        std::optional<FileBuffer>* image) {
  *file = ExclusiveFile::OpenForReading(path);
  std::uint64_t size = 0;
  // A file that could not be opened has no size.
  if (!file->GetSize(&size) || size < kContainerHeaderSize || size > kMaxContainerFileSize) {
    return false;
  }
  std::uint8_t headerBytes[kContainerHeaderSize];
  if (!file->Read(headerBytes, sizeof headerBytes)) return false;
  const ContainerHeader header = LoadContainerHeader(headerBytes);
  if (header.magic != kContainerMagic || !ChecksumMatches(*file, headerBytes, header, size)) {
    return false;
  }
  return image == nullptr || (file->Rewind() && ReadWholeFile(*file, image));
}

// The stem of path ends at the last occurrence of suffix (letter case counts); whatever follows
// it is dropped. False when the path has no such occurrence.
bool ReplaceLastSuffix(const std::wstring& path, std::wstring_view suffix,
                       std::wstring_view replacement, std::wstring* result) {
  if (path.rfind(suffix) == std::wstring::npos) return false;
  *result = platform::StemBefore(path, suffix);
  result->append(replacement);
  return true;
}

// Sets the archive aside under a hidden name of this run's own beside it, taken only where
// nothing stands: a file of the package that happens to bear such a name is never moved over.
bool SetAside(const std::wstring& zipPath, std::wstring* setAside) {
  const std::wstring_view name = platform::FileNameOf(zipPath);
  const std::wstring prefix = zipPath.substr(0, zipPath.size() - name.size()) + L"." +
                              std::wstring(name) + L"." +
                              std::to_wstring(platform::CurrentProcessId()) + L".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *setAside = prefix + std::to_wstring(attempt) + L".wrapping";
    if (platform::MoveFileExclusive(zipPath, *setAside)) return true;
  }
  return false;
}

}  // namespace

int WrapZipToContainer(const std::wstring& zipPath, std::uint32_t blockFactor,
                       ArchiveAfterWrap archiveAfterWrap) {
  std::wstring containerPath;
  if (!ReplaceLastSuffix(zipPath, L".zip", L".uip", &containerPath)) return 0;
  ExclusiveFile archive = ExclusiveFile::OpenForReading(zipPath);
  std::uint64_t archiveSize = 0;
  // An archive that is missing or too long for the header's 32-bit fields is refused before the
  // container is touched: an earlier run's container stays as it was.
  if (!archive.GetSize(&archiveSize) || archiveSize > kMaxArchiveSize) return 0;
  const auto payloadSize = static_cast<std::uint32_t>(archiveSize);

  // The archive is read behind room for the header and scrambled where it lies, so the one
  // buffer is the finished container: no second copy, one write.
  FileBuffer image(kContainerHeaderSize + payloadSize);
  if (image.Data() == nullptr) return 0;
  std::uint8_t* payload = image.Data() + kContainerHeaderSize;
  if (!archive.Read(payload, payloadSize)) return 0;
  EncodeContainerImage(image.Data(), payloadSize, blockFactor);
  archive.Close();  // closed before it may be moved

  // A deleted archive is first only set aside and deleted once the container is whole, so a
  // failed write (a full disk) cannot lose it; the container is made only after that.
  const bool deleteArchive = archiveAfterWrap == ArchiveAfterWrap::Delete;
  std::wstring setAside;
  if (deleteArchive && !SetAside(zipPath, &setAside)) return 0;
  ExclusiveFile container = ExclusiveFile::CreateForWriting(containerPath);
  if (container.Write(image.Data(), image.Size()) && container.Flush()) {
    if (deleteArchive) platform::DeleteFileAt(setAside);
    return 1;
  }
  // Nothing that could pass for a container stays, and the archive is back where it was.
  if (container.IsOpen()) {
    container.Close();
    platform::DeleteFileAt(containerPath);
  }
  if (deleteArchive) platform::MoveFileExclusive(setAside, zipPath);
  return 0;
}

int VerifyContainer(const std::wstring& containerPath) {
  ExclusiveFile file;
  return ReadValidContainer(containerPath, &file, nullptr) ? 1 : 0;
}

int UnwrapContainerToZip(const std::wstring& containerPath) {
  std::wstring archivePath;
  if (!ReplaceLastSuffix(containerPath, L".uip", L".zip", &archivePath)) return 0;
  // The same check as VerifyContainer, made before the archive is created, so an invalid or
  // unreadable container creates nothing.
  ExclusiveFile container;
  std::optional<FileBuffer> image;
  if (!ReadValidContainer(containerPath, &container, &image)) return 0;
  ExclusiveFile archive = ExclusiveFile::CreateForWriting(archivePath);
  if (!archive.IsOpen()) return 0;

  // Unscrambled inside the container image and written from there: the image is the only
  // buffer, whatever the header claims about block counts.
  ArchiveSpan span;
  if (!DecodeContainerImage(image->Data(), image->Size(), &span)) return 0;
  container.Close();
  if (!archive.Write(image->Data() + span.offset, span.length)) return 0;
  return archive.Flush() ? 1 : 0;
}

}  // namespace uippack::container
