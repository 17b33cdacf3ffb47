// The kernel-object handle table's file side, shared by the file functions
// and CloseHandle. Internal to src/platform.
#pragma once

#include "platform/windef.h"

// A new handle for an open file descriptor, which the table then owns.
HANDLE AddFileHandle(int fd);
// The descriptor behind a file handle; -1 (ERROR_INVALID_HANDLE) for others.
int FileDescriptorOf(HANDLE handle);
