// The file side of the .uip container: wrapping an archive, checking a container and unwrapping
// it. Plain functions of paths that know nothing of a run. Each file is held exclusively, never
// opened through a link, and every failure is a plain 0.
#pragma once

#include <cstdint>
#include <string>

namespace uippack::container {

enum class ArchiveAfterWrap { Keep, Delete };

// Wraps the archive zipPath (its name ends in ".zip") into the container beside it (".uip" in
// place of the last ".zip"), keyed with blockFactor (1..15), and keeps or deletes the archive.
// The container is made only once the archive has been read (and, when it is to be deleted,
// set aside under a name of this run's own); a container that could not be written whole is
// removed, and the archive stays.
int WrapZipToContainer(const std::wstring& zipPath, std::uint32_t blockFactor,
                       ArchiveAfterWrap archiveAfterWrap);

// 1 when the container's magic and checksum hold.
int VerifyContainer(const std::wstring& containerPath);

// Writes the archive of a valid container beside it (".zip" in place of the last ".uip"); an
// invalid or unreadable container creates nothing. The container stays.
int UnwrapContainerToZip(const std::wstring& containerPath);

}  // namespace uippack::container
