// UTF-8 inside, UTF-16 at the Win32 calls. Only for platform/*_win32.cpp.
#ifndef TARNWICK_PLATFORM_TEXT_WIN32_H
#define TARNWICK_PLATFORM_TEXT_WIN32_H

#include <string>

namespace Platform {

std::wstring WidenUtf8(const std::string& text);
std::string NarrowToUtf8(const std::wstring& text);
// errno value closest to a Win32 error code.
int ErrnoFromWin32(unsigned long error);

}  // namespace Platform

#endif
