#include "platform/c_runtime.h"

#include <clocale>

namespace uippack::platform {

void UseUtf8CharacterSet() { std::setlocale(LC_CTYPE, ".UTF8"); }

void UseUtcAsLocalTime() {}

}  // namespace uippack::platform
