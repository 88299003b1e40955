// UTF-8 <-> UTF-16 at the edge of the Windows window: the flow speaks UTF-8, the controls UTF-16.
// Invalid input gives U+FFFD replacements, never an error.
#pragma once

#include <string>

std::wstring win32_widen(const std::string& utf8);
std::string win32_narrow(const std::wstring& utf16);
