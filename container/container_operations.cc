// The three container operations of the run object: the file side of the .uip container.
// Each file is held exclusively, read whole with one read and written whole with one write,
// flushed before it is closed. Every failure is a plain 0; the RAII holders close the files
// and free the buffers on every way out.
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "container/container_format.h"
#include "package/package_builder.h"
#include "platform/platform.h"

namespace uippack {
namespace {

using platform::ExclusiveFile;

using Buffer = std::unique_ptr<std::uint8_t[]>;

// Memory that cannot be had is a failure of the operation, not an exception.
Buffer Allocate(std::size_t size) { return Buffer(new (std::nothrow) std::uint8_t[size]); }

// Reads the whole of an open file. Files of 4 GiB or more are refused: the format counts
// lengths in 32 bits.
bool ReadWholeFile(ExclusiveFile& file, Buffer* image, std::size_t* size) {
  std::uint64_t length = 0;
  if (!file.GetSize(&length) || length > kMaxContainerFileSize) return false;
  *size = static_cast<std::size_t>(length);
  *image = Allocate(*size);
  return *image != nullptr && file.Read(image->get(), *size);
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

// "-uip" in any letter case. Only ASCII letters fold, as in the C locale.
bool IsDeleteArchiveMode(const std::wstring& mode) {
  constexpr std::wstring_view kMode = L"-uip";
  if (mode.size() != kMode.size()) return false;
  for (std::size_t i = 0; i < mode.size(); ++i) {
    wchar_t c = mode[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != kMode[i]) return false;
  }
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
  const std::size_t imageSize = kContainerHeaderSize + payloadSize;
  Buffer image = Allocate(imageSize);
  if (image == nullptr || !archive.Read(image.get() + kContainerHeaderSize, payloadSize)) return 0;
  EncodeContainerImage(image.get(), payloadSize, blockFactor);
  archive.Close();  // closed before it may be deleted

  const bool deleteArchive = IsDeleteArchiveMode(modeOption);
  if (deleteArchive && !platform::DeleteFileAt(zipPath)) return 0;
  if (container.Write(image.get(), imageSize) && container.Flush()) return 1;

  // The archive is already gone and its only copy is in memory: put it back where it was
  // rather than lose it with the container that could not be written.
  if (deleteArchive) {
    ScrambleBlocks(image.get() + kContainerHeaderSize, payloadSize, blockFactor * 256);
    ExclusiveFile restored = ExclusiveFile::CreateForWriting(zipPath);
    if (restored.IsOpen() && restored.Write(image.get() + kContainerHeaderSize, payloadSize)) {
      restored.Flush();
    }
  }
  return 0;
}

int PackageBuilder::VerifyContainer(const std::wstring& containerPath) {
  ExclusiveFile file = ExclusiveFile::OpenForReading(containerPath);
  if (!file.IsOpen()) return 0;
  Buffer image;
  std::size_t size = 0;
  if (!ReadWholeFile(file, &image, &size)) return 0;
  return IsValidContainerImage(image.get(), size) ? 1 : 0;
}

int PackageBuilder::UnwrapContainerToZip(const std::wstring& containerPath) {
  std::wstring archivePath;
  if (!ReplaceLastSuffix(containerPath, L".uip", L".zip", &archivePath)) return 0;
  // Verified before anything is opened, so an invalid container creates no archive.
  if (VerifyContainer(containerPath) != 1) return 0;
  ExclusiveFile container = ExclusiveFile::OpenForReading(containerPath);
  if (!container.IsOpen()) return 0;
  ExclusiveFile archive = ExclusiveFile::CreateForWriting(archivePath);
  if (!archive.IsOpen()) return 0;

  // The archive is unscrambled inside the container image and written from there: the image
  // is the only buffer, whatever the header claims about block counts.
  Buffer image;
  std::size_t size = 0;
  ArchiveSpan span;
  if (!ReadWholeFile(container, &image, &size) ||
      !DecodeContainerImage(image.get(), size, &span)) {
    return 0;
  }
  container.Close();
  if (!archive.Write(image.get() + span.offset, span.length)) return 0;
  return archive.Flush() ? 1 : 0;
}

}  // namespace uippack
