// UTF-8 names to the wide calls of Windows and back. The tool keeps every
// name in UTF-8; only Windows code below platform/ includes this.
#pragma once

#include <string>

namespace platform {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* wide, size_t length);

}  // namespace platform
