// The diagnostics log shared by every process of the same executable name.
#pragma once

namespace uippack {

// Appends one record to the log; "%s" takes a wide string. Never reports a failure.
void LogWrite(const wchar_t* format, ...);

}  // namespace uippack
