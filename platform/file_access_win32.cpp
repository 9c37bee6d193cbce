#include "platform/file_access.h"

#include <windows.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/text_win32.h"

namespace Platform {

FILE* OpenFile(const std::string& path, const char* mode)
{
    return _wfopen(WidenUtf8(path).c_str(), WidenUtf8(mode).c_str());
}

bool IsDirectoryStream(FILE* file)
{
    struct _stat64 info {};
    return _fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFDIR) != 0;
}

int SeekFile(FILE* file, int64_t offset, int origin)
{
    return _fseeki64(file, offset, origin);
}

int64_t TellFile(FILE* file)
{
    return _ftelli64(file);
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesW(WidenUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int RemoveFile(const std::string& path)
{
    return DeleteFileW(WidenUtf8(path).c_str()) ? 0 : ErrnoFromWin32(GetLastError());
}

int MoveIntoPlace(const std::string& from, const std::string& to)
{
    // rename() of the C runtime refuses an existing target.
    return MoveFileExW(WidenUtf8(from).c_str(), WidenUtf8(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? 0
               : ErrnoFromWin32(GetLastError());
}

}  // namespace Platform
