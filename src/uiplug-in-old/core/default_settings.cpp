#include "uiplug-in-old/core/default_settings.h"

SHORT PixelsToTenthsMm(unsigned pixels) noexcept { return static_cast<SHORT>((pixels * 254u + 150u) / 300u); }

void ReadDefaultSettings(DefaultSettings& block, const ModelDescription& model, const std::u16string& iniFile,
                         const DefaultSettings* fallback, bool secondPass)
{
    static_cast<void>(iniFile);
    static_cast<void>(fallback);
    static_cast<void>(secondPass);
    block.modelName = model.Info().modelName.substr(0, 64);
    // The default paper; A4's length is taken one unit longer, so that its
    // 3507 pixels come out as the exact 297.0 mm.
    block.paperId = model.DefaultPaperId();
    const auto [width, height] = model.PaperPixelsAt(-1);
    block.paperWidth = PixelsToTenthsMm(width);
    block.paperLength = PixelsToTenthsMm(block.paperId == 9 ? height + 1u : height);
}
