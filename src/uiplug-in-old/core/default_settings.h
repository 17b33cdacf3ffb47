// The document defaults a model's description files give: read in two
// passes, DefaultFile over the built-in values, then CustomFile over those.
#pragma once

#include <string>

#include "uiplug-in-old/core/model_description.h"

// Fills block from one description file: the model's name and default
// paper (its id and its size in 0.1 mm) first, then the setting keys, each
// falling back to fallback's value (the built-in values when null).
void ReadDefaultSettings(DefaultSettings& block, const ModelDescription& model, const std::u16string& iniFile,
                         const DefaultSettings* fallback, bool secondPass);

// A size in 1/300 inch as 0.1 mm, rounded.
SHORT PixelsToTenthsMm(unsigned pixels) noexcept;
