// What a run has consumed: the directories it archived and the archives it extracted, each with
// its removal started. Their content lives on in what was made of them, so nothing within them
// is archived, wrapped, listed or extracted again, while a removal may be taking it away.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace uippack {

// True when path is directory itself or lies below it. Compared as text: both must be spelled
// alike (from one root, without "." or ".." parts, in the same letter case), as the paths of
// one walk are. directory may end in a separator.
bool LiesWithin(std::wstring_view path, std::wstring_view directory);

// True when path lies within one of the consumed paths.
bool IsConsumed(std::wstring_view path, const std::vector<std::wstring>& consumed);

// True when one of the consumed paths lies within directory: its removal may still be changing
// what directory holds.
bool HoldsConsumed(std::wstring_view directory, const std::vector<std::wstring>& consumed);

}  // namespace uippack
