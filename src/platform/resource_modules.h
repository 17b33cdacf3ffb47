// The resource libraries loaded as modules: the loader functions
// (libloader.cpp) load, name and free them, the resource functions
// (resources.cpp) read them. Internal to src/platform.
//
// A resource module's handle is an odd number (a serial number, never used
// again), so it is never the address a dynamic loader handle is and a freed
// one is never taken for a module loaded later.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/windef.h"

// Whether the file can be read and starts with the resource library magic.
bool IsResourceLibraryFile(const std::filesystem::path& path);
// The file as a resource module, read whole into memory and checked; the same
// file loaded again, unchanged, gives the same module with one more
// reference (a file rewritten since is a module of its own). Null with
// the last error and the load error text set: ERROR_BAD_EXE_FORMAT for a file
// that is not a well-formed resource library, ERROR_MOD_NOT_FOUND for one
// that cannot be read.
HMODULE LoadResourceModule(const std::filesystem::path& path, std::string& whyNot);
// Whether the handle has the form of a resource module's handle (loaded or
// already freed).
bool IsResourceModuleHandle(HMODULE module) noexcept;
// Drops one reference, freeing the module with the last; false when no
// resource module has the handle.
bool FreeResourceModule(HMODULE module);
// The module's file as a full path; none when no resource module has the
// handle.
std::optional<std::filesystem::path> ResourceModulePath(HMODULE module);
