// The command line of every external tool, per platform. Windows runs the tools as designed:
// cmd.exe with xcopy, rd and del, and the companions with ".exe". POSIX copies the tree in
// process, uses rm with the same meaning as rd and del, and the companions' bare names.
#pragma once

#include <string_view>

namespace uippack::templates {

#ifdef _WIN32
// The destination gets a trailing backslash, which tells xcopy it is a directory.
inline constexpr std::wstring_view kCopyTree = L"cmd.exe /c xcopy /e /s /k /y %s %s";
inline constexpr std::wstring_view kPreCompile =
    L"\"%s\\ScriptStager.exe\" -i %s -o %s -c PreCompile.txt";
inline constexpr std::wstring_view kCompile = L"\"%s\\luac.exe\" -o %s %s";
inline constexpr std::wstring_view kArchiveLayout = L"\"%s\\7z.exe\"  a -tzip %s %s -r -mx=9";
inline constexpr std::wstring_view kArchiveResource = L"\"%s\\7z.exe\"  a -tzip %s %s -r -mx=0";
inline constexpr std::wstring_view kExtract = L"\"%s\\7z.exe\"  x %s -o%s -y";
inline constexpr std::wstring_view kRemoveDirectory = L"cmd.exe /c rd /s /q %s";
inline constexpr std::wstring_view kDeleteFile = L"cmd.exe /c del /q %s";
#else
// None: the tree is copied in process, which follows links and leaves special files out.
inline constexpr std::wstring_view kCopyTree;
inline constexpr std::wstring_view kPreCompile =
    L"\"%s/ScriptStager\" -i %s -o %s -c PreCompile.txt";
inline constexpr std::wstring_view kCompile = L"\"%s/luac\" -o %s %s";
inline constexpr std::wstring_view kArchiveLayout = L"\"%s/7z\"  a -tzip %s %s -r -mx=9";
inline constexpr std::wstring_view kArchiveResource = L"\"%s/7z\"  a -tzip %s %s -r -mx=0";
inline constexpr std::wstring_view kExtract = L"\"%s/7z\"  x %s -o%s -y";
inline constexpr std::wstring_view kRemoveDirectory = L"rm -rf %s";
inline constexpr std::wstring_view kDeleteFile = L"rm -f %s";
#endif

}  // namespace uippack::templates
