#include "uiplug-in-old/core/default_settings.h"

void ReadDefaultSettings(DefaultSettings& block, const ModelDescription& model, std::u16string_view modelName,
                         const std::u16string& iniFile, const DefaultSettings* fallback, bool secondPass)
{
    static_cast<void>(iniFile);
    static_cast<void>(fallback);
    static_cast<void>(secondPass);
    block.modelName = std::u16string(modelName.substr(0, 64));
    // The default paper and its size as the model answers it (the paper
    // file's exact size where it gives one), so both always agree.
    block.paperId = model.DefaultPaperId();
    const auto [width, length] = model.PaperSizeAt(-1);
    block.paperWidth = static_cast<SHORT>(width);
    block.paperLength = static_cast<SHORT>(length);
}
