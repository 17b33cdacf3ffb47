// zntr-config: asks the UI plug-in's core what the print system's
// configuration module would ask it:
//
//   zntr-config data-file KEY [SECTION]      a file named by the index (SECTION: Common)
//   zntr-config resource NUMBER [SECTION]    a keyed resource (SECTION: General)
//   zntr-config capability MODEL KEY         a value of the driver's capability file
//   zntr-config [--json] model MODEL         the model's description as loaded
//
// The plug-in is taken to be ZNTR_UI beside this command, so the index is the
// ZNTR.DAT installed with it. Prints the value, or nothing with exit status 1
// when it is absent; 2 for a usage error.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/stringapiset.h"
#include "platform/winspool.h"
#include "uiplug-in-old/core/data_files.h"
#include "uiplug-in-old/core/model_description.h"
#include "uiplug-in-old/core/model_tables.h"
#include "uiplug-in-old/core/resource_library.h"

namespace {

constexpr const char* kUsage =
    "usage: zntr-config data-file KEY [SECTION]     the data file KEY names (SECTION: Common)\n"
    "       zntr-config resource NUMBER [SECTION]   the keyed resource NUMBER (SECTION, else General)\n"
    "       zntr-config [--printer NAME] capability MODEL KEY\n"
    "                                               MODEL's KEY in the printer driver's capability file\n"
    "       zntr-config [--json] model MODEL         MODEL's description: capabilities, papers, sources,\n"
    "                                               media types, qualities and size limits\n";

int UsageError(const char* why)
{
    std::fprintf(stderr, "zntr-config: %s\n%s", why, kUsage);
    return 2;
}

std::u16string PluginBeside()
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return Utf8ToWide(ec ? std::string("ZNTR_UI.so") : (self.parent_path() / "ZNTR_UI.so").string());
}

int Print(const std::u16string& value)
{
    if (value.empty())
        return 1;
    std::printf("%s\n", WideToUtf8(value).c_str());
    return 0;
}

std::string Hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string Tenths(unsigned value) { return std::to_string(value / 10) + "." + std::to_string(value % 10); }

// JSON text of a string.
std::string Quoted(const std::u16string& text)
{
    std::string out = "\"";
    for (unsigned char c : WideToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The model sources (by name) that a source mask allows.
std::string AllowedSources(const ModelDescription& m, DWORD mask, bool json)
{
    std::string out;
    for (int i = 0; i < m.Info().sources.count; ++i) {
        const WORD at = m.Info().sources.values[static_cast<std::size_t>(i)];
        if (at >= model_tables::kSources.size() || !(mask & model_tables::kSources[at].trayBit))
            continue;
        const std::u16string name = m.SourceName(i);
        out += out.empty() ? "" : json ? ", " : "; ";
        out += json ? Quoted(name) : WideToUtf8(name);
    }
    return out;
}

std::string LimitsText(const SizeLimits& l)
{
    return Tenths(l.minWidthMm) + "-" + Tenths(l.maxWidthMm) + " x " + Tenths(l.minHeightMm) + "-" + Tenths(l.maxHeightMm) +
           " mm";
}

std::string LimitsJson(const SizeLimits& l)
{
    return "{\"minWidth\": " + std::to_string(l.minWidthMm) + ", \"maxWidth\": " + std::to_string(l.maxWidthMm) +
           ", \"minHeight\": " + std::to_string(l.minHeightMm) + ", \"maxHeight\": " + std::to_string(l.maxHeightMm) + "}";
}

constexpr const char* kQualityNames[] = {"high", "medium", "low", "draft"};

void PrintModel(const ModelDescription& m, HMODULE strings, const std::array<WORD, 6>& stamps, bool json)
{
    const PrinterInfo& info = m.Info();
    const bool inch = IsInchCountry();
    std::string capabilities;
    for (const capability::Named& key : capability::kKeys)
        if (info.capabilities & key.bit)
            capabilities += (capabilities.empty() ? "" : json ? ", " : " ") +
                            (json ? Quoted(key.key) : WideToUtf8(key.key));
    const SizeLimitSet& limits = m.UserSizeLimits();
    const bool finisherLimits = m.UsesFinisherSizeLimits();
    if (!json) {
        std::printf("%s\n", WideToUtf8(info.modelName).c_str());
        std::printf("  version stamps: paper table %u, paper seeds %u, DefaultFile %u, CustomFile %u\n", stamps[0], stamps[1],
                    stamps[2], stamps[3]);
        std::printf("  model id %u, %u pages per minute, memory %u, logo bitmap %u, info type %u\n", info.modelId,
                    info.pagesPerMinute, info.defaultMemory, info.logoBitmapId, info.infoType);
        std::printf("  capabilities %s: %s%s\n", Hex(info.capabilities).c_str(), capabilities.c_str(),
                    info.capabilities & capability::PaperListAsRead ? " (paper list as read)" : "");
        std::printf("  finisher mask %s\n", Hex(m.FinisherMask()).c_str());
        std::printf("  papers (%s list; sizes in 0.1 mm and 1/300 inch):\n",
                    info.capabilities & capability::PaperListAsRead ? "main" : inch ? "inch" : "mm");
        for (int i = 0; i < info.papers.count; ++i) {
            const auto [w, h] = m.PaperSizeAt(i);
            const auto [pw, ph] = m.PaperPixelsAt(i);
            std::printf("  %c %2d  %-34s id %3u  %5u x %5u  %4u x %4u px  sources %s  flags %s\n",
                        i == info.papers.order ? '*' : ' ', i, WideToUtf8(m.PaperDisplayName(i, inch)).c_str(),
                        m.PaperIdAt(i), w, h, pw, ph, Hex(m.PaperSourcesAt(i)).c_str(), Hex(m.PaperFlagsAt(i)).c_str());
        }
        std::printf("  sources:\n");
        for (int i = 0; i < info.sources.count; ++i)
            std::printf("  %c %2d  %-34s id %3u\n", i == info.sources.order ? '*' : ' ', i,
                        WideToUtf8(m.SourceName(i)).c_str(), m.SourceIdAt(i));
        std::printf("  paper types:\n");
        for (int i = 0; i < info.paperTypes.count; ++i)
            std::printf("  %c %2d  %-34s id %3u\n", i == info.paperTypes.order ? '*' : ' ', i,
                        WideToUtf8(m.PaperTypeName(i)).c_str(), m.PaperTypeIdAt(i));
        std::printf("  media types (allowed sources):\n");
        for (int i = 0; i < info.mediaTypes.count; ++i) {
            const std::optional<MediaEntry> media = m.MediaAt(i);
            if (!media)
                continue;
            std::printf("  %c %2d  %-34s id %3u  %s\n", i == info.mediaTypes.order ? '*' : ' ', i,
                        WideToUtf8(m.MediaName(i, strings)).c_str(), media->id,
                        AllowedSources(m, media->options, false).c_str());
        }
        std::printf("  qualities (resolution row, time-out):\n");
        for (int q = -4; q <= -1; ++q) {
            const std::optional<int> row = m.QualityRow(q);
            const WORD timeOut = info.timeOuts[static_cast<std::size_t>(q + 4)];
            std::printf("    %-6s %s, %s\n", kQualityNames[q + 4], row ? ("row " + std::to_string(*row)).c_str() : "none",
                        timeOut == 0xFFFF ? "no time-out" : (std::to_string(timeOut) + " s").c_str());
        }
        std::printf("  user-defined size (%s limits): portrait %s, landscape %s\n", finisherLimits ? "finisher" : "free-size",
                    LimitsText(limits.portrait).c_str(), LimitsText(limits.landscape).c_str());
        for (const FontSubstitution& s : m.Substitutions())
            std::printf("  font substitution: %s -> %s (%d)\n", WideToUtf8(s.font).c_str(), WideToUtf8(s.substitute).c_str(), s.value);
        return;
    }
    std::printf("{\"model\": %s,\n \"stamps\": [%u, %u, %u, %u],\n", Quoted(info.modelName).c_str(), stamps[0], stamps[1],
                stamps[2], stamps[3]);
    std::printf(" \"modelId\": %u, \"pagesPerMinute\": %u, \"memory\": %u, \"infoType\": %u,\n", info.modelId,
                info.pagesPerMinute, info.defaultMemory, info.infoType);
    std::printf(" \"capabilities\": %u, \"capabilityNames\": [%s], \"finisher\": %u,\n", info.capabilities,
                capabilities.c_str(), m.FinisherMask());
    std::printf(" \"papers\": [");
    for (int i = 0; i < info.papers.count; ++i) {
        const auto [w, h] = m.PaperSizeAt(i);
        const auto [pw, ph] = m.PaperPixelsAt(i);
        std::printf("%s\n  {\"id\": %u, \"name\": %s, \"size\": [%u, %u], \"pixels\": [%u, %u], \"sources\": %u, \"flags\": %u}",
                    i ? "," : "", m.PaperIdAt(i), Quoted(m.PaperDisplayName(i, inch)).c_str(), w, h, pw, ph,
                    m.PaperSourcesAt(i), m.PaperFlagsAt(i));
    }
    std::printf("],\n \"paperOrder\": %u,\n \"sources\": [", info.papers.order);
    for (int i = 0; i < info.sources.count; ++i)
        std::printf("%s{\"id\": %u, \"name\": %s}", i ? ", " : "", m.SourceIdAt(i), Quoted(m.SourceName(i)).c_str());
    std::printf("],\n \"paperTypes\": [");
    for (int i = 0; i < info.paperTypes.count; ++i)
        std::printf("%s{\"id\": %u, \"name\": %s}", i ? ", " : "", m.PaperTypeIdAt(i), Quoted(m.PaperTypeName(i)).c_str());
    std::printf("],\n \"mediaTypes\": [");
    for (int i = 0; i < info.mediaTypes.count; ++i) {
        const std::optional<MediaEntry> media = m.MediaAt(i);
        std::printf("%s\n  {\"id\": %u, \"name\": %s, \"options\": %u, \"sources\": [%s]}", i ? "," : "",
                    media ? media->id : 0, Quoted(m.MediaName(i, strings)).c_str(),
                    media ? media->options : 0, media ? AllowedSources(m, media->options, true).c_str() : "");
    }
    std::printf("],\n \"qualityRows\": [");
    for (int q = -4; q <= -1; ++q) {
        const std::optional<int> row = m.QualityRow(q);
        std::printf("%s%s", q > -4 ? ", " : "", row ? std::to_string(*row).c_str() : "null");
    }
    std::printf("],\n \"timeOuts\": [%u, %u, %u, %u],\n", info.timeOuts[0], info.timeOuts[1], info.timeOuts[2], info.timeOuts[3]);
    std::printf(" \"userSizeLimits\": {\"set\": \"%s\", \"portrait\": %s, \"landscape\": %s}}\n",
                finisherLimits ? "finisher" : "free-size", LimitsJson(limits.portrait).c_str(), LimitsJson(limits.landscape).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    std::u16string printer = u"zntr-printer";
    bool json = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
            continue;
        }
        if (std::strcmp(argv[i], "--printer") == 0 && i + 1 < argc) {
            printer = Utf8ToWide(argv[++i]);
            continue;
        }
        return UsageError("unknown option");
    }
    if (i >= argc)
        return UsageError("give a command");
    const std::string command = argv[i++];
    const int left = argc - i;
    const DriverDataFiles files(PluginBeside());

    if (command == "data-file" && (left == 1 || left == 2))
        return Print(files.DataFilePath(left == 2 ? Utf8ToWide(argv[i + 1]) : u"Common", Utf8ToWide(argv[i]), true));
    if (command == "resource" && (left == 1 || left == 2)) {
        char* end = nullptr;
        const long number = std::strtol(argv[i], &end, 10);
        if (!*argv[i] || *end)
            return UsageError("the resource NUMBER is a number");
        const std::u16string section = left == 2 ? Utf8ToWide(argv[i + 1]) : std::u16string();
        return Print(files.KeyedResource(static_cast<int>(number), left == 2 ? section.c_str() : nullptr));
    }
    if (command == "capability" && left == 2) {
        HANDLE h = nullptr;
        if (!OpenPrinterW(printer.data(), &h, nullptr)) {
            std::fprintf(stderr, "zntr-config: no printer %s\n", WideToUtf8(printer).c_str());
            return 1;
        }
        const std::u16string value = files.CapabilityValue(h, Utf8ToWide(argv[i]), Utf8ToWide(argv[i + 1]));
        ClosePrinter(h);
        return Print(value);
    }
    if (command == "model" && left == 1) {
        const std::u16string model = Utf8ToWide(argv[i]);
        if (files.DataFilePath(model, u"DefaultFile", false).empty()) {
            std::fprintf(stderr, "zntr-config: the index %s names no model %s\n", WideToUtf8(files.IndexPath()).c_str(), argv[i]);
            return 1;
        }
        ModelTable table(files);
        std::array<WORD, 6> stamps{};
        table.Load(model, stamps.data());
        const ResourceLibrary strings = LoadResourceLibrary(files, model, ResourceKind::Strings);
        table.LoadLocalisedNames(strings.Get());
        PrintModel(*table.Find(model), strings.Get(), stamps, json);
        return 0;
    }
    return UsageError("unknown command or wrong number of arguments");
}
