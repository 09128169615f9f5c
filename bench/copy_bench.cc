// The tree copy alone, as uippack makes it at the start of every run.
//
//   copy_bench SOURCE DESTINATION
//
// Copies SOURCE into DESTINATION and exits with 0 when the copy is whole. bench/pipeline_bench.sh
// times it next to `cp -RL` of the same tree, each followed by sync.
#include <cstdio>

#include "platform/console.h"
#include "platform/text.h"
#include "platform/tree_copy.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: copy_bench SOURCE DESTINATION\n");
    return 2;
  }
  using namespace uippack::platform;
  const bool whole =
      CopyTreeFollowingLinks(NarrowToWide(argv[1]), NarrowToWide(argv[2]), WriteErrorLine);
  return whole ? 0 : 1;
}
