#include "package/tree_copier.h"

#include "package/command_templates.h"
#include "package/notes.h"
#include "package/tool_runner.h"
#include "platform/tree_copy.h"

namespace uippack {
namespace {

class SystemCopier final : public TreeCopier {
 public:
  int CopyTree(const std::wstring& source, const std::wstring& destination) override {
    if (templates::kCopyTree.empty())
      return platform::CopyTreeFollowingLinks(source, destination, WriteNote) ? 1 : 0;
    return uippack::CopyTree(SystemCommandRunner(), source, destination);
  }
};

}  // namespace

TreeCopier& SystemTreeCopier() {
  static SystemCopier copier;
  return copier;
}

}  // namespace uippack
