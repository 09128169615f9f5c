// The first step of both pipelines: copying the source tree into the destination. The pipelines
// are handed a copier, as they are handed a command runner, so a test can answer the copy too.
#pragma once

#include <string>

namespace uippack {

class CommandRunner;

class TreeCopier {
 public:
  virtual ~TreeCopier() = default;
  // Copies source into destination, creating it or merging into it: 1 when done, 0 when not.
  virtual int CopyTree(const std::wstring& source, const std::wstring& destination) = 0;
};

// The system's copier: the copy command, started through the system's runner, where the system
// has one; the in-process copy, which follows links and leaves special files out, where not.
TreeCopier& SystemTreeCopier();

}  // namespace uippack
