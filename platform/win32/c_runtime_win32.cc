#include "platform/c_runtime.h"

#include <clocale>

namespace uippack::platform {

bool UseUtf8CharacterSet() { return std::setlocale(LC_CTYPE, ".UTF8") != nullptr; }

void UseUtcAsLocalTime() {}

}  // namespace uippack::platform
