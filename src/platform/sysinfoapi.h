// The Windows and system folders, which here are folders under the state root.
#pragma once

#include "platform/winerror.h"

// The folder with its terminator: answers its length, or, when uSize is too
// small, the size needed with the terminator (nothing copied).
UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);
UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);
