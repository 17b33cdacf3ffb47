// Base services: the private-profile (INI file) functions and the user's name.
#pragma once

#include "platform/winerror.h"

// ---- Private-profile (INI) files ----------------------------------------------

// ---- The user ---------------------------------------------------------------------
