// The three container operations of the run object: the file side of the .uip container.
// Each file is held exclusively, read whole with one read and written whole with one write,
// flushed before it is closed. Every failure is a plain 0; the RAII holders close the files
// and free the buffers on every way out.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "container/container_format.h"
#include "package/package_builder.h"
#include "platform/platform.h"

namespace uippack {
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

// Opens, reads and checks a container; the file stays held in *file. The unwrap decodes the
// very bytes checked here: one read of the container, and no moment between the check and
// the use in which the file could change.
bool ReadValidContainer(const std::wstring& path, ExclusiveFile* file,
                        std::optional<FileBuffer>* image) {
  *file = ExclusiveFile::OpenForReading(path);
  return file->IsOpen() && ReadWholeFile(*file, image) &&
         IsValidContainerImage((*image)->Data(), (*image)->Size());
}

// The stem of path ends at the last occurrence of suffix (case-sensitive); whatever follows
// it is dropped. False when the path has no such occurrence.
bool ReplaceLastSuffix(const std::wstring& path, std::wstring_view suffix,
                       std::wstring_view replacement, std::wstring* result) {
  const std::size_t stemEnd = path.rfind(suffix);
  if (stemEnd == std::wstring::npos) return false;
  *result = path.substr(0, stemEnd);
  result->append(replacement);
  return true;
}

}  // namespace

int PackageBuilder::WrapZipToContainer(const std::wstring& zipPath) {
  std::wstring containerPath;
  if (!ReplaceLastSuffix(zipPath, L".zip", L".uip", &containerPath)) return 0;
  ExclusiveFile container = ExclusiveFile::CreateForWriting(containerPath);
  if (!container.IsOpen()) return 0;
  ExclusiveFile archive = ExclusiveFile::OpenForReading(zipPath);
  std::uint64_t archiveSize = 0;
  // An archive too long for the header's 32-bit fields is refused before a byte is written:
  // the container stays empty rather than truncated.
  if (!archive.IsOpen() || !archive.GetSize(&archiveSize) || archiveSize > kMaxArchiveSize) {
    return 0;
  }
  const auto payloadSize = static_cast<std::uint32_t>(archiveSize);
  const std::uint32_t blockFactor = DrawBlockFactor();

  // The archive is read behind room for the header and scrambled where it lies, so the one
  // buffer is the finished container: no second copy, one write.
  FileBuffer image(kContainerHeaderSize + payloadSize);
  if (image.Data() == nullptr) return 0;
  std::uint8_t* payload = image.Data() + kContainerHeaderSize;
  if (!archive.Read(payload, payloadSize)) return 0;
  EncodeContainerImage(image.Data(), payloadSize, blockFactor);
  archive.Close();  // closed before it may be deleted

  const bool deleteArchive = IsUipModeOption(modeOption);
  if (deleteArchive && !platform::DeleteFileAt(zipPath)) return 0;
  if (container.Write(image.Data(), image.Size()) && container.Flush()) return 1;

  // The archive is already gone and its only copy is in memory: put it back where it was
  // rather than lose it with the container that could not be written.
  if (deleteArchive) {
    ScrambleBlocks(payload, payloadSize, blockFactor * 256);
    ExclusiveFile restored = ExclusiveFile::CreateForWriting(zipPath);
    if (restored.Write(payload, payloadSize)) restored.Flush();
  }
  return 0;
}

int PackageBuilder::VerifyContainer(const std::wstring& containerPath) {
  ExclusiveFile file;
  std::optional<FileBuffer> image;
  return ReadValidContainer(containerPath, &file, &image) ? 1 : 0;
}

int PackageBuilder::UnwrapContainerToZip(const std::wstring& containerPath) {
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

}  // namespace uippack
