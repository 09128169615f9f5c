// Splits one command line into arguments the way Windows does (CommandLineToArgvW), so a
// command line means the same on both platforms and no shell ever reads it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace uippack::platform {

// The first argument ends at the next blank, or is everything between a leading pair of double
// quotes; no escapes apply to it. The others follow the Windows C runtime rules: blanks outside
// quotes separate; 2n backslashes before a quote give n backslashes and the quote toggles
// quoting; 2n+1 backslashes before a quote give n backslashes and a literal quote; inside
// quotes, two quotes give one literal quote.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace uippack::platform
