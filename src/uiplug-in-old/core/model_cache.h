// The caches of the model table in the data folder: the paper table and one
// file per model description. A file starts with its own total size and a
// layout tag; it is taken only whole, with the size and tag this code writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "uiplug-in-old/core/model_description.h"

struct ModelCache {
    // The bytes of a paper cache, and the table they hold (nullopt for bytes
    // of another size or layout).
    static std::vector<BYTE> PaperBytes(const PaperTable& table);
    static std::optional<PaperTable> PaperFrom(const std::vector<BYTE>& bytes);
    static std::size_t PaperSize();

    // The bytes of a model cache (the entry without its paper table), and
    // the entry read back into model.
    static std::vector<BYTE> ModelBytes(const ModelDescription& model);
    static bool ModelFrom(const std::vector<BYTE>& bytes, ModelDescription& model);
    static std::size_t ModelSize();

    // The whole file when it holds exactly size bytes; nullopt otherwise.
    static std::optional<std::vector<BYTE>> Read(const std::u16string& path, std::size_t size);
    // Replaces the file (its folder made when missing); false on failure.
    static bool Write(const std::u16string& path, const std::vector<BYTE>& bytes);
};
