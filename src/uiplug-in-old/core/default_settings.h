// The document defaults a model's description files give, read in two
// passes: DefaultFile over the built-in values, then CustomFile over those.
//
// So far the block holds what the model table itself needs: the model's
// name (the name its entry answers to) and its default paper. The setting
// keys come with the private DevMode; iniFile, fallback and secondPass are
// for them.
#pragma once

#include <string>
#include <string_view>

#include "uiplug-in-old/core/model_description.h"

void ReadDefaultSettings(DefaultSettings& block, const ModelDescription& model, std::u16string_view modelName,
                         const std::u16string& iniFile, const DefaultSettings* fallback, bool secondPass);
