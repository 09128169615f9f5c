#include "package/package_builder.h"

namespace uippack {

PackageBuilder::~PackageBuilder() {
  scriptFiles.clear();
  layoutDirs.clear();
  resourceDirs.clear();
  zipFiles.clear();
  containerFiles.clear();
}

bool IsUipModeOption(const std::wstring& modeOption) {
  static constexpr std::wstring_view kUipMode = L"-uip";
  if (modeOption.size() != kUipMode.size()) return false;
  for (std::size_t i = 0; i < kUipMode.size(); ++i) {
    wchar_t c = modeOption[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != kUipMode[i]) return false;
  }
  return true;
}

}  // namespace uippack
