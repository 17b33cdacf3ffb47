// The folder under which every stand-in keeps machine state (printers and
// their data, later the registry and the application-data folders):
// $ZNTR_STATE_DIR, else $XDG_DATA_HOME/zntr, else ~/.local/share/zntr.
// Internal to src/platform.
#pragma once

#include <filesystem>

std::filesystem::path StateRoot();
