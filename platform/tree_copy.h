// Copying a tree in process, following links.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace uippack::platform {

// Copies the content of the directory source into destination, making destination and its
// missing parents, or merging into it. Links in the source are followed, so the copy holds only
// real directories and regular files: FIFOs, sockets, devices, links that lead nowhere, loops (a
// link to a directory being copied, to one above the source or into the copy) and the kernel's
// own file systems (/proc, /sys, /dev) are left out with a note. What stands
// in the copy's way (an old file, a link) is replaced, never written through. Refused, before
// anything is made, is a destination that another user could change: one with a directory on
// its path that neither root nor this user owns, or that others may write to and is not sticky,
// or an existing destination holding a directory that is not this user's or that others may
// write to. Nothing the copy makes is writable by others. False, after a note saying why, when
// the copy is refused or could not copy everything it should have. Each note ("PATH: what")
// goes to note as it arises, for the caller to print.
// Windows copies trees with its copy command instead; there this copies nothing and is false.
using NoteSink = std::function<void(std::wstring_view note)>;
bool CopyTreeFollowingLinks(const std::wstring& source, const std::wstring& destination,
                            const NoteSink& note);

}  // namespace uippack::platform
