#include "platform/file_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace Platform {

FILE* OpenFile(const std::string& path, const char* mode)
{
    return std::fopen(path.c_str(), mode);
}

bool IsDirectoryStream(FILE* file)
{
    struct stat info {};
    return fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode);
}

int SeekFile(FILE* file, int64_t offset, int origin)
{
    return fseeko(file, static_cast<off_t>(offset), origin);
}

int64_t TellFile(FILE* file)
{
    return static_cast<int64_t>(ftello(file));
}

bool PathExists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

int RemoveFile(const std::string& path)
{
    return unlink(path.c_str()) == 0 ? 0 : errno;
}

int MoveIntoPlace(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace Platform
