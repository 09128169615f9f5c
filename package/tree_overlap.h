// Refusing a destination that is the source, lies inside it or contains it: the destination
// walk would otherwise reach the source and compile or remove its files.
#pragma once

#include <string>

namespace uippack {

// True when the two trees are the same directory or one lies inside the other, after
// resolving links and relative parts.
bool TreesOverlap(const std::wstring& source, const std::wstring& destination);

// 1 when source and destination are separate trees; otherwise prints why and gives 0.
int CheckSeparateTrees(const std::wstring& source, const std::wstring& destination);

}  // namespace uippack
