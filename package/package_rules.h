// What a pack run acts on and what it makes of it, by name: the one home of these rules for
// the walks, the pipelines and uipcheck. Names compare exactly, letter case significant; no
// walk enters a directory whose name is hidden (platform::IsHiddenName).
#pragma once

#include <string>
#include <string_view>

namespace uippack {

inline constexpr std::wstring_view kLayoutDirectoryName = L"layout";
inline constexpr std::wstring_view kResourceDirectoryName = L"res";
// The container a layout directory's archive is wrapped into.
inline constexpr std::wstring_view kContainerFileName = L"layout.uip";
inline constexpr std::wstring_view kArchiveExtension = L".zip";

// The mode option that leaves the container alone; it compares without regard to case.
inline constexpr std::wstring_view kContainerOnlyMode = L"-uip";

// What a pack run leaves of each layout directory: the mode option, decoded.
enum class LayoutOutputs { ArchiveAndContainer, ContainerOnly, ArchiveOnly };
// Empty: both; "-uip" in any letter case: the container only; anything else: the archive only.
LayoutOutputs LayoutOutputsFor(std::wstring_view modeOption);
// Whether the layout archive is wrapped into a container, and whether it stays beside it.
bool MakesContainer(LayoutOutputs outputs);
bool KeepsArchive(LayoutOutputs outputs);

// A file whose extension is ".lua": compiled in place.
bool IsScriptName(std::wstring_view name);
// A directory archived whole into layout.zip, wherever the walk finds it.
bool IsLayoutDirectoryName(std::wstring_view name);
// A directory whose subdirectories are each archived.
bool IsResourceDirectoryName(std::wstring_view name);
// A subdirectory of a resource directory that becomes an archive: any but a hidden one.
bool IsArchivedResourceName(std::wstring_view name);
// The archive made of a directory lies beside it, named after it.
std::wstring ArchivePathOf(std::wstring_view directory);

// What an unpack run turns back: a file named layout.uip, and a file whose extension is ".zip".
bool IsContainerName(std::wstring_view name);
bool IsArchiveName(std::wstring_view name);

}  // namespace uippack
