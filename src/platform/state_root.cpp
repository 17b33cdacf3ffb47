#include "platform/state_root.h"

#include <cstdlib>

std::filesystem::path StateRoot()
{
    if (const char* dir = std::getenv("ZNTR_STATE_DIR"); dir && *dir)
        return dir;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::filesystem::path(data) / "zntr";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : ".") / ".local" / "share" / "zntr";
}
