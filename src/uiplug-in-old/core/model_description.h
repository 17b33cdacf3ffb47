// The printer model descriptions: the process-wide table of the models this
// plug-in has been asked about, loaded from each model's description files
// (the index's DefaultFile and CustomFile of the model's section, CustomFile
// first) and the shared paper table, with caches of both in the data folder,
// and the questions the rest of the plug-in asks about a model.
//
// Entries never move: a record found for a model stays valid for the life
// of the table, and a reload (a version stamp changed) builds a new entry
// while readers of the old one go on reading it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windef.h"
#include "uiplug-in-old/core/data_files.h"

inline constexpr std::size_t kMaxPaperRows = 64;
inline constexpr std::size_t kMaxListLength = 64;
inline constexpr std::size_t kMaxSubstitutions = 32;

// Capability flags of a model (PRINTERINFO's Yes/No keys, and 0x4).
namespace capability {
inline constexpr DWORD True1200 = 0x1;
inline constexpr DWORD ResidentFont = 0x2;
inline constexpr DWORD PaperListAsRead = 0x4;  // no key: string 1818 of the string library
inline constexpr DWORD A3Printer = 0x8;
inline constexpr DWORD Duplex = 0x20;
inline constexpr DWORD HeiseFont = 0x80;
inline constexpr DWORD Collate = 0x400;
inline constexpr DWORD FontSubstitution = 0x800;
inline constexpr DWORD DuplexOption = 0x1000;
inline constexpr DWORD Fast600 = 0x2000;
inline constexpr DWORD OnlyFast600 = 0x4000;
inline constexpr DWORD Monochrome = 0x8000;
inline constexpr DWORD MKK = 0x20000;
inline constexpr DWORD GL2 = 0x40000;
inline constexpr DWORD TonerSave3 = 0x80000;
inline constexpr DWORD MediaCheckMPT = 0x100000;
inline constexpr DWORD Finisher = 0x200000;
inline constexpr DWORD WideUserDefinePaper = 0x800000;
inline constexpr DWORD MPT_Duplex = 0x1000000;
inline constexpr DWORD OptionTray = 0x4000000;
inline constexpr DWORD OperationPanel = 0x8000000;
inline constexpr DWORD FastMonoPrint = 0x10000000;
inline constexpr DWORD OfficeDocument = 0x20000000;
inline constexpr DWORD PermanentOverlay = 0x40000000;
inline constexpr DWORD MptIsManual = 0x80000000;

struct Named {
    DWORD bit;
    const char16_t* key;
};
// Every capability that has a key, in bit order.
extern const std::array<Named, 24> kKeys;
}  // namespace capability

// Bit 0x8000 of the finisher mask: the finisher set of user-size limits
// applies (set by the device options, never parsed; see FinisherMask).
inline constexpr WORD kFinisherSizeLimits = 0x8000;
// Paper flag 0x1: the paper's name is a format for its width and height.
inline constexpr WORD kPaperFlagSizeFormat = 0x1;

// The layout code's view of a paper in one orientation.
struct PaperLayout {
    WORD width = 0;  // 1/300 inch
    WORD height = 0;
    WORD second1 = 0;  // read by the page setup
    WORD second2 = 0;
    BYTE commandLength = 0;
    std::array<BYTE, 8> command{};
};

struct PaperRow {
    WORD id = 0;
    std::u16string name;  // as in the paper file, up to 63 characters
    WORD value1 = 0;      // kept, not interpreted
    DWORD value2 = 0;
    WORD width = 0;  // 1/300 inch
    WORD height = 0;
    PaperLayout portrait;
    PaperLayout landscape;
    WORD mmWidth = 0;  // 0.1 mm; 0, 0 when the file gives none
    WORD mmHeight = 0;
    WORD shortNameId = 0;
    WORD longNameId = 0;
};

struct PaperTable {
    WORD paperStamp = 0;  // Ver of the paper file and of the seed file
    WORD seedStamp = 0;
    std::vector<PaperRow> rows;  // at most kMaxPaperRows
};

// A list of positions, its length and the position of its default.
struct PositionList {
    std::array<WORD, kMaxListLength> values{};
    WORD count = 0;
    WORD order = 0;
    friend bool operator==(const PositionList&, const PositionList&) = default;
};

// The PRINTERINFO record.
struct PrinterInfo {
    WORD infoType = 0;
    std::u16string modelName;  // up to 63 characters
    DWORD capabilities = 0;
    WORD logoBitmapId = 1;
    PositionList papers;  // the list in use: PaperSize, or the inch or mm list
    PositionList papersInch;
    PositionList papersMm;
    PositionList sources;
    PositionList paperTypes;
    PositionList mediaTypes;
    DWORD defaultMemory = 0;
    WORD pagesPerMinute = 0;
    WORD modelId = 0;
    WORD finisher = 0;  // as parsed: without kFinisherSizeLimits
    std::array<SHORT, 4> qualityRows{};  // qualities -4 .. -1
    std::array<WORD, 4> timeOuts{};      // 65535: none
};

// Limits of a user-defined paper in one orientation: 0.1 mm and 1/300 inch.
struct SizeLimits {
    WORD maxWidthMm = 0, maxHeightMm = 0, maxWidthPx = 0, maxHeightPx = 0;
    WORD minWidthMm = 0, minHeightMm = 0, minWidthPx = 0, minHeightPx = 0;
};
struct SizeLimitSet {
    SizeLimits portrait;
    SizeLimits landscape;
};

struct FontSubstitution {
    std::u16string font;  // up to 63 characters each
    std::u16string substitute;
    SHORT value = 0;
};

struct MediaEntry {
    WORD id = 0;
    WORD value = 0;
    DWORD options = 0;  // the option-string mask: sources and output paths
    WORD nameId = 0;
};

// The document defaults of a model: so far the model name and its default
// paper; the setting keys come with the private DevMode.
struct DefaultSettings {
    std::u16string modelName;  // up to 64 characters
    WORD paperId = 0;
    SHORT paperWidth = 0;  // 0.1 mm
    SHORT paperLength = 0;
};

class ModelTable;

// One model entry: the record and the tables built with it.
class ModelDescription {
public:
    const PrinterInfo& Info() const noexcept { return info_; }
    // The version stamps the entry was built from: paper file, seed file,
    // DefaultFile, CustomFile.
    const std::array<WORD, 4>& Stamps() const noexcept { return stamps_; }
    const DefaultSettings& Defaults() const noexcept { return defaults_; }
    const std::vector<FontSubstitution>& Substitutions() const noexcept { return substitutions_; }
    const SizeLimitSet& DpiChangeLimits() const noexcept { return dpiChange_; }
    const PaperTable& Papers() const noexcept { return *paperTable_; }
    const std::vector<MediaEntry>& MediaTable() const noexcept { return media_; }

    // Papers, by position in the list in use; a position outside it means
    // the default paper (except for PaperIdAt).
    WORD PaperIdAt(int position) const noexcept;  // 0 outside the list
    WORD DefaultPaperId() const noexcept;
    int PositionOfPaper(WORD paperId) const noexcept;  // -1: id 0 not found; -2: other id, or an empty list
    DWORD PaperSourcesAt(int position) const noexcept;
    WORD PaperFlagsAt(int position) const noexcept;
    std::pair<WORD, WORD> PaperPixelsAt(int position) const noexcept;  // 1/300 inch
    std::pair<WORD, WORD> PaperSizeAt(int position) const noexcept;    // 0.1 mm
    // orientation 1: portrait, else landscape.
    const PaperLayout& PaperLayoutAt(int position, int orientation) const noexcept;
    // The display name: the localised name, or for a size-format paper its
    // size in mm (one decimal) or inch (two decimals) and the unit.
    std::u16string PaperDisplayName(int position, bool inch, WORD* paperId = nullptr) const;
    std::u16string PaperLongName(int position, HMODULE strings) const;

    // Sources, paper types and media types, by position in the model's lists.
    WORD SourceIdAt(int position) const noexcept;
    int PositionOfSource(WORD sourceId) const noexcept;  // -1 when absent
    std::u16string SourceName(int position) const;
    WORD PaperTypeIdAt(int position) const noexcept;
    int PositionOfPaperType(WORD paperTypeId) const noexcept;
    std::u16string PaperTypeName(int position) const;
    WORD MediaIdAt(int position) const noexcept;
    int PositionOfMedia(WORD mediaId) const noexcept;
    std::optional<MediaEntry> MediaAt(int position) const noexcept;
    std::u16string MediaName(int position, HMODULE strings) const;
    // Whether the finisher set of user-size limits applies: an A3 printer
    // whose device options have the finisher on.
    bool UsesFinisherSizeLimits() const noexcept;
    // The finisher mask with kFinisherSizeLimits as the device options set it.
    WORD FinisherMask() const noexcept;
    void SetFinisherSizeLimits(bool on) noexcept { finisherLimits_.on.store(on); }

    // The limits of a user-defined paper: the finisher set for an A3 printer
    // with the finisher size flag, else the free-size set.
    const SizeLimitSet& UserSizeLimits() const noexcept;
    // The resolution table row of a quality (-4 high .. -1 draft).
    std::optional<int> QualityRow(int quality) const noexcept;

private:
    friend class ModelTable;
    friend struct ModelCache;

    int PaperRowAt(int position) const noexcept;  // -1: no row
    const PaperRow* RowAt(int position) const noexcept;
    WORD ListValueAt(const PositionList& list, int position) const noexcept;

    // State the device options change while others read the entry.
    struct Flag {
        std::atomic<bool> on{false};
        Flag() = default;
        Flag(const Flag& other) noexcept : on(other.on.load()) {}
        Flag& operator=(const Flag& other) noexcept
        {
            on.store(other.on.load());
            return *this;
        }
    };

    const ModelTable* table_ = nullptr;
    std::shared_ptr<const PaperTable> paperTable_;
    std::array<WORD, 4> stamps_{};
    PrinterInfo info_;
    DefaultSettings defaults_;
    std::vector<FontSubstitution> substitutions_;
    SizeLimitSet dpiChange_;
    SizeLimitSet freeSize_;
    SizeLimitSet finisherSize_;
    std::array<DWORD, kMaxPaperRows> paperSources_{};
    std::array<WORD, kMaxPaperRows> paperFlags_{};
    std::vector<MediaEntry> media_;
    Flag finisherLimits_;
};

// True when the user's locale is in a country that uses inch papers.
bool IsInchCountry();
bool IsInchCountryCode(int countryCode) noexcept;

class ModelTable {
public:
    explicit ModelTable(DriverDataFiles files);
    ~ModelTable();
    ModelTable(const ModelTable&) = delete;
    ModelTable& operator=(const ModelTable&) = delete;

    // The table of this process, for the plug-in's module.
    static ModelTable& Process();

    // Makes the paper table and the model's entry current (from the caches
    // when their stamps are current, else from the files, then writes the
    // caches). With a stamp block (six words), answers whether its first four
    // words differ from the current stamps and writes those into it.
    bool Load(std::u16string_view model, WORD* stampBlock = nullptr, bool force = false);
    // The model's entry, or null when it was never loaded. InfoType's bit 0
    // is clear and, without capability 0x4, the list in use is the inch or
    // mm list of the user's country now (a new entry when the country
    // changed since).
    ModelDescription* Find(std::u16string_view model);

    // Takes the localised paper, source, paper-type and unit names from a
    // string resource library.
    void LoadLocalisedNames(HMODULE strings);
    // The localised text of a string id, or fallback when not loaded.
    std::u16string LocalisedName(WORD id, std::u16string_view fallback) const;
    std::u16string MillimetreUnit() const;

    const DriverDataFiles& Files() const noexcept { return files_; }

private:
    struct Slot {
        std::u16string name;
        ModelDescription* current = nullptr;
        std::vector<std::unique_ptr<ModelDescription>> built;  // the current one and those it replaced
    };
    struct Sources;

    Slot* SlotFor(std::u16string_view model, bool add);
    // A cache in the data folder for a file name of the index ("NAME.EXT"
    // gives NAME.cah); empty when there is no name or no data folder.
    std::u16string CachePath(std::u16string_view fileName) const;
    void EnsurePaperTable(const std::array<WORD, 4>& stamps, bool force);
    std::unique_ptr<ModelDescription> Parse(std::u16string_view model, const Sources& files, const std::array<WORD, 4>& stamps);
    // Makes entry the slot's current one: InfoType's bit 0 cleared, the
    // country's list in use.
    ModelDescription* Publish(Slot& slot, std::unique_ptr<ModelDescription> entry) const;

    DriverDataFiles files_;
    mutable std::mutex lock_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::shared_ptr<const PaperTable> paperTable_;
    std::unique_ptr<DefaultSettings> defaultFileSettings_;  // the DefaultFile pass, kept once
    mutable std::mutex namesLock_;
    std::map<WORD, std::u16string> names_;
    std::u16string millimetres_ = u"mm";
};
