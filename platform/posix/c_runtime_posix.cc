#include "platform/c_runtime.h"

#include <langinfo.h>
#include <stdlib.h>

#include <clocale>
#include <string_view>

namespace uippack::platform {

void UseUtf8CharacterSet() {
  for (const char* name : {"C.UTF-8", "UTF-8", ""}) {
    if (std::setlocale(LC_CTYPE, name) != nullptr &&
        std::string_view(nl_langinfo(CODESET)) == "UTF-8") {
      return;
    }
  }
}

void UseUtcAsLocalTime() { setenv("TZ", "UTC0", 1); }

}  // namespace uippack::platform
