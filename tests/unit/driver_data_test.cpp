// The driver's sample data set (data/driver): the index, the paper table, the
// user-defined paper seeds, the capability file, the installed-options
// example and the three model descriptions. Everything is read the way the
// UI plug-in reads it, through the private-profile functions, with a model's
// CustomFile consulted before its DefaultFile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/stringapiset.h"
#include "platform/winbase.h"

namespace {

const std::string kFolder = std::string(ZNTR_SOURCE_DIR) + "/data/driver/";

std::u16string W(const std::string& text) { return Utf8ToWide(text); }
std::string N(const std::u16string& text) { return WideToUtf8(text); }

std::u16string PathOf(const std::u16string& name) { return W(kFolder) + name; }

// A value as the plug-in reads it (1024 characters); none when absent or empty.
std::optional<std::u16string> Read(const std::u16string& file, const std::u16string& section, const std::u16string& key)
{
    std::vector<char16_t> buffer(1024);
    const DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), u"", buffer.data(), 1024, file.c_str());
    if (n == 0)
        return std::nullopt;
    return std::u16string(buffer.data(), n);
}

// A zero-separated list answered by the section-name and section functions.
std::vector<std::u16string> SplitList(const std::vector<char16_t>& buffer)
{
    std::vector<std::u16string> items;
    for (std::size_t i = 0; i < buffer.size() && buffer[i] != u'\0';) {
        std::u16string item(buffer.data() + i);
        i += item.size() + 1;
        items.push_back(item);
    }
    return items;
}

std::vector<std::u16string> Sections(const std::u16string& file)
{
    std::vector<char16_t> buffer(32768);
    GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    return SplitList(buffer);
}

// The keys of a section, in file order.
std::vector<std::u16string> Keys(const std::u16string& file, const std::u16string& section)
{
    std::vector<char16_t> buffer(65536);
    GetPrivateProfileSectionW(section.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    std::vector<std::u16string> keys;
    for (const std::u16string& line : SplitList(buffer)) {
        const std::size_t eq = line.find(u'=');
        if (eq == std::u16string::npos)
            continue;
        std::u16string key = line.substr(0, eq);
        while (!key.empty() && key.back() == u' ')
            key.pop_back();
        keys.push_back(key);
    }
    return keys;
}

std::u16string Upper(std::u16string text)
{
    for (char16_t& c : text)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return text;
}

// ---- The value grammar of the model files --------------------------------------

// ";" ends a value: the rest is a comment.
std::u16string CutComment(const std::u16string& value) { return value.substr(0, value.find(u';')); }

std::vector<std::u16string> Fields(const std::u16string& value)
{
    std::vector<std::u16string> fields;
    std::u16string field;
    for (char16_t c : CutComment(value)) {
        if (c == u',') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

// A signed number field: decimal, or hexadecimal after 0x; blanks around it.
// None when anything else is in the field (the plug-in would skip it; in the
// shipped files it is a mistake).
std::optional<std::int64_t> Number(std::u16string field)
{
    while (!field.empty() && field.front() == u' ')
        field.erase(field.begin());
    while (!field.empty() && field.back() == u' ')
        field.pop_back();
    bool negative = false;
    if (!field.empty() && field.front() == u'-') {
        negative = true;
        field.erase(field.begin());
    }
    int base = 10;
    if (field.size() > 2 && field[0] == u'0' && (field[1] == u'x' || field[1] == u'X')) {
        base = 16;
        field = field.substr(2);
    }
    if (field.empty())
        return std::nullopt;
    std::int64_t v = 0;
    for (char16_t c : field) {
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return std::nullopt;
        v = v * base + d;
    }
    return negative ? -v : v;
}

std::optional<std::vector<std::int64_t>> Numbers(const std::u16string& value)
{
    std::vector<std::int64_t> out;
    for (const std::u16string& f : Fields(value)) {
        const auto n = Number(f);
        if (!n)
            return std::nullopt;
        out.push_back(*n);
    }
    return out;
}

// A quoted string field ("..."), without its quotes; none when not quoted.
std::optional<std::u16string> Quoted(const std::u16string& field)
{
    const std::size_t open = field.find(u'"');
    if (open == std::u16string::npos)
        return std::nullopt;
    const std::size_t close = field.find(u'"', open + 1);
    if (close == std::u16string::npos)
        return std::nullopt;
    if (field.find_first_not_of(u' ', close + 1) != std::u16string::npos || field.find_first_not_of(u' ') != open)
        return std::nullopt;
    return field.substr(open + 1, close - open - 1);
}

bool IsYesNo(const std::u16string& value)
{
    const std::u16string v = Upper(CutComment(value));
    const std::size_t end = v.find_last_not_of(u' ');
    const std::u16string t = end == std::u16string::npos ? u"" : v.substr(v.find_first_not_of(u' '), end + 1);
    return t == u"YES" || t == u"NO";
}

// One group of an option or finisher string: the name, then one position per
// letter holding that letter or "_"; a "!" in letters stands for a required
// letter that has no "_" form (the "L" of the EJS group).
struct Group {
    std::u16string name;
    std::u16string letters;
};

// The groups of the string in order; empty when a group is malformed, a
// group appears twice, or other text than " + " separates them.
std::optional<std::u16string> GroupMask(const std::u16string& value, const std::vector<Group>& groups, std::u16string& seen)
{
    const std::u16string v = CutComment(value);
    std::u16string present;
    std::size_t i = 0;
    while (i < v.size()) {
        if (v[i] == u' ' || v[i] == u'+') {
            ++i;
            continue;
        }
        const Group* g = nullptr;
        for (const Group& candidate : groups)
            if (Upper(v.substr(i, candidate.name.size())) == candidate.name)
                g = &candidate;
        if (!g)
            return std::nullopt;
        i += g->name.size();
        if (i + g->letters.size() > v.size())
            return std::nullopt;
        for (char16_t expected : g->letters) {
            const char16_t c = Upper(std::u16string(1, v[i]))[0];
            if (c == expected || (c == u'_' && expected != u'L')) {
                if (c != u'_' && expected != u'L')
                    present += c;
            } else {
                return std::nullopt;
            }
            ++i;
        }
        if (seen.find(g->name[0]) != std::u16string::npos)
            return std::nullopt;
        seen += g->name[0];
    }
    return present;
}

const std::vector<Group> kOptionGroups = {
    {u"TRAY.", u"12345AMPDF"}, {u"STK.", u"UD"}, {u"FIN.", u"UD"}, {u"EJS", u"23L23PS"}};
const std::vector<Group> kFinisherGroups = {{u"PUNCH.", u"234"}, {u"TRAY.", u"12345"}};

// The tray letters (the first group's present letters) of a well-formed option string.
std::optional<std::u16string> TrayLetters(const std::u16string& value)
{
    const std::u16string v = CutComment(value);
    const std::size_t tray = Upper(v).find(u"TRAY.");
    if (tray == std::u16string::npos || tray + 15 > v.size())
        return std::nullopt;
    std::u16string letters;
    for (char16_t c : Upper(v.substr(tray + 5, 10)))
        if (c != u'_')
            letters += c;
    return letters;
}

bool IsOptionString(const std::u16string& value)
{
    std::u16string seen;
    return GroupMask(value, kOptionGroups, seen).has_value() && seen == u"TSFE";
}

bool IsFinisherString(const std::u16string& value)
{
    std::u16string seen;
    return GroupMask(value, kFinisherGroups, seen).has_value() && seen == u"PT";
}

// ---- What the plug-in reads from a model's files ----------------------------------

enum class Form {
    Integer,  // GetPrivateProfileIntW, or a string read as one number field
    YesNo,    // capability keys
    List,     // comma list of numbers
    Options,  // option string: TRAY. STK. FIN. EJS
    Finisher, // finisher string: PUNCH. TRAY.
    Limits,   // eight numbers of a USERFREESIZE key
    Subst,    // "face", "face", number
};

struct KeyRule {
    const char16_t* section;
    const char16_t* key;
    Form form;
    bool mayDefault; // may be left to its built-in default on purpose
};

// The model description and the driver defaults of the document settings.
const KeyRule kModelKeys[] = {
    {u"VERSION", u"Ver", Form::Integer, false},
    {u"PRINTERINFO", u"InfoType", Form::Integer, false},
    {u"PRINTERINFO", u"True1200", Form::YesNo, false},
    {u"PRINTERINFO", u"ResidentFont", Form::YesNo, false},
    {u"PRINTERINFO", u"A3Printer", Form::YesNo, false},
    {u"PRINTERINFO", u"Duplex", Form::YesNo, false},
    {u"PRINTERINFO", u"HeiseFont", Form::YesNo, false},
    {u"PRINTERINFO", u"Collate", Form::YesNo, false},
    {u"PRINTERINFO", u"FontSubstitution", Form::YesNo, false},
    {u"PRINTERINFO", u"DuplexOption", Form::YesNo, false},
    {u"PRINTERINFO", u"Fast600", Form::YesNo, false},
    {u"PRINTERINFO", u"OnlyFast600", Form::YesNo, false},
    {u"PRINTERINFO", u"Monochrome", Form::YesNo, false},
    {u"PRINTERINFO", u"MKK", Form::YesNo, false},
    {u"PRINTERINFO", u"GL2", Form::YesNo, false},
    {u"PRINTERINFO", u"TonerSave3", Form::YesNo, false},
    {u"PRINTERINFO", u"MediaCheckMPT", Form::YesNo, false},
    {u"PRINTERINFO", u"Finisher", Form::YesNo, false},
    {u"PRINTERINFO", u"WideUserDefinePaper", Form::YesNo, false},
    {u"PRINTERINFO", u"MPT_Duplex", Form::YesNo, false},
    {u"PRINTERINFO", u"OptionTray", Form::YesNo, false},
    {u"PRINTERINFO", u"OperationPanel", Form::YesNo, false},
    {u"PRINTERINFO", u"FastMonoPrint", Form::YesNo, false},
    {u"PRINTERINFO", u"OfficeDocument", Form::YesNo, false},
    {u"PRINTERINFO", u"PermanentOverlay", Form::YesNo, false},
    {u"PRINTERINFO", u"MptIsManual", Form::YesNo, false},
    {u"PRINTERINFO", u"iLogoBmpID", Form::Integer, false},
    {u"PRINTERINFO", u"PaperSize", Form::List, false},
    {u"PRINTERINFO", u"PaperSize_inch", Form::List, false},
    {u"PRINTERINFO", u"PaperSize_mm", Form::List, false},
    {u"PRINTERINFO", u"PaperOrder", Form::Integer, false},
    {u"PRINTERINFO", u"PaperOrder_inch", Form::Integer, false},
    {u"PRINTERINFO", u"PaperOrder_mm", Form::Integer, false},
    {u"PRINTERINFO", u"Source", Form::List, false},
    {u"PRINTERINFO", u"SourceOrder", Form::Integer, false},
    {u"PRINTERINFO", u"PaperType", Form::List, false},
    {u"PRINTERINFO", u"PaperTypeOrder", Form::Integer, false},
    {u"PRINTERINFO", u"MediaType", Form::List, false},
    {u"PRINTERINFO", u"MediatypeOrder", Form::Integer, false},
    {u"PRINTERINFO", u"dwDefAvlMemory", Form::Integer, false},
    {u"PRINTERINFO", u"wPPM", Form::Integer, false},
    {u"PRINTERINFO", u"wModelID", Form::Integer, false},
    {u"PRINTERINFO", u"wFinisherType", Form::Finisher, false},
    {u"PRINTERINFO", u"QualityType", Form::List, false},
    {u"PRINTERINFO", u"TimeOut", Form::List, false},
    {u"USERFREESIZE", u"UDDPIChange_Portrait", Form::Limits, false},
    {u"USERFREESIZE", u"UDDPIChange_Landscape", Form::Limits, false},
    {u"USERFREESIZE", u"UDFreeSize_Portrait", Form::Limits, false},
    {u"USERFREESIZE", u"UDFreeSize_Landscape", Form::Limits, false},
    {u"USERFREESIZE", u"UDFinisherSize_Portrait", Form::Limits, false},
    {u"USERFREESIZE", u"UDFinisherSize_Landscape", Form::Limits, false},
    {u"USERFREESIZE", u"UDDispType", Form::Integer, false},
    // Font substitution: reading stops at the first missing row.
    {u"SUBSTTABLE", u"1", Form::Subst, false},
    // Document-setting defaults (section names as the plug-in spells them).
    {u"PAPER", u"UDfitpage", Form::Integer, false},
    {u"PAPER", u"UDCoverPrint", Form::Integer, false},
    {u"PAPER", u"UDSource_Cover", Form::Integer, false},
    {u"PAPER", u"UDCoverPrintThick", Form::Integer, false},
    {u"PAPER", u"UDDriverSetting_Pinfof", Form::Integer, false},
    {u"ORIENTAION", u"UDOrientation", Form::Integer, false},
    {u"ORIENTAION", u"UDPortDirect", Form::Integer, false},
    {u"ORIENTAION", u"UDLandDirect", Form::Integer, false},
    {u"ORIENTAION", u"UDLongEdge", Form::Integer, false},
    {u"ORIENTAION", u"UDMPFisManual", Form::Integer, false},
    {u"COPIES", u"UDCopies", Form::Integer, false},
    // Any value but 0 is read as 0.
    {u"COPIES", u"UDwJobType", Form::Integer, true},
    {u"COPIES", u"UDfCollate", Form::Integer, false},
    {u"REQUESTEVERY", u"UDdwJobTypeOption", Form::Integer, false},
    {u"OPTION", u"UDSouceOption", Form::Integer, false},
    {u"OPTION", u"UDautotray", Form::Integer, false},
    {u"OPTION", u"UDsizechk", Form::Integer, false},
    {u"OPTION", u"UDMPTsizechk", Form::Integer, false},
    {u"OPTION", u"UDDuplex", Form::Integer, false},
    {u"OPTION", u"UDHdd", Form::Integer, false},
    {u"OPTION", u"UDJobSpool", Form::Integer, false},
    {u"OPTION", u"UDFinisher", Form::Integer, false},
    {u"OPTION", u"UDIntraySize", Form::Integer, false},
    {u"OPTION", u"UDManualDuplex", Form::Integer, false},
    {u"OPTION", u"UDHideDuplex", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDdwFinishingMode", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDmultipage", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDdwPageBorder", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDmultiPort", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDmultiLand", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDdwSignature", Form::Integer, false},
    {u"LAYOUTTYPE", u"UD2UP", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDRightToLeft", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDEnlarge", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDRegistMarks", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDdwRegistColor", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDOverlap", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDOverlapWidth", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDCstmX", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDCstmY", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDDirectionPort", Form::Integer, false},
    {u"LAYOUTTYPE", u"UDDirectionAuto", Form::Integer, false},
    {u"ETC", u"UDdmScale", Form::Integer, false},
    {u"ETC", u"UDBandArea_Nup", Form::Integer, false},
    {u"ETC", u"UDBandArea_BookLet", Form::Integer, false},
    {u"ETC", u"UDBandWidth_Nup", Form::Integer, false},
    {u"ETC", u"UDBandWidth_BookLet", Form::Integer, false},
    {u"ETC", u"UDTonerSave", Form::Integer, false},
    {u"ETC", u"UDTrueBk_TonerSave", Form::Integer, false},
    {u"ETC", u"UDSuperColor", Form::Integer, false},
    {u"ETC", u"UDIgnoreDCS", Form::Integer, false},
    {u"FINISHING", u"UDOutputBin", Form::Integer, false},
    {u"DUPLEX", u"UDdmDuplex", Form::Integer, false},
    {u"COLORMODE", u"UDcolormode", Form::Integer, false},
    {u"COLORMODE", u"UDColorDensity", Form::Integer, false},
    {u"COLORMODE", u"UDMonoStupDlg", Form::Integer, false},
    {u"COLORMODECOLOR", u"UDhalftone", Form::Integer, false},
    {u"COLORMODECOLOR", u"UDcoloradjust", Form::Integer, false},
    {u"COLORMODECOLOR", u"UDcoloradjustOpt", Form::Integer, false},
    {u"BLACKFINISH", u"UDBlackFinish", Form::Integer, false},
    {u"RESOLUTION", u"UDPrintQuality", Form::Integer, false},
    {u"RESOLUTION", u"UDUiQuality", Form::Integer, false},
    {u"IMAGEQUALITY", u"UDImageThinOut", Form::Integer, false},
    {u"MISC", u"UDBlankPaper_Skip", Form::Integer, false},
    {u"DETAILSETTING", u"UDfDriverExpand", Form::Integer, false},
    {u"DETAILSETTING", u"UDRop_MultiColor", Form::Integer, false},
    {u"DETAILSETTING", u"UDAlMatte", Form::Integer, false},
    {u"DETAILSETTING", u"UDSpoolEMF", Form::Integer, false},
    {u"DETAILSETTING", u"UDGraphicsBlackCMYK", Form::Integer, false},
    {u"DETAILSETTING", u"UDTIFF", Form::Integer, false},
    {u"DETAILSETTING", u"UDAdjLine", Form::Integer, false},
    {u"DETAILSETTING", u"UDfOverPrint", Form::Integer, false},
    {u"DETAILSETTING", u"UDAP_Collate", Form::Integer, false},
    {u"APCOLOR", u"UDfColor", Form::Integer, false},
    {u"DETAILSETTING", u"UDMaintenanceCycle", Form::Integer, false},
    {u"PROCESSMODE", u"UDColorProcessMode", Form::Integer, false},
    {u"FONT", u"UDOUTorBIT", Form::Integer, false},
    {u"WATERMARK", u"UDwFontSize", Form::Integer, false},
    {u"WATERMARK", u"UDwAngle", Form::Integer, false},
    {u"WATERMARK", u"UDlfWeight", Form::Integer, false},
    {u"WATERMARK", u"UDlfItalic", Form::Integer, false},
    {u"WATERMARK", u"UDdwColor", Form::Integer, false},
    {u"WATERMARK", u"UDxOffset", Form::Integer, false},
    {u"WATERMARK", u"UDyOffset", Form::Integer, false},
    {u"WATERMARK", u"UDBasePos", Form::Integer, false},
    {u"WATERMARK", u"UDTrim", Form::Integer, false},
    {u"WATERMARK", u"UDWM_XOffset", Form::Integer, false},
    {u"WATERMARK", u"UDWM_YOffset", Form::Integer, false},
    {u"WATERMARK", u"UDJobInfo", Form::Integer, false},
    {u"PCENV", u"UDDocContents", Form::Integer, false},
    {u"PCENV", u"UDEnvWarningDlg", Form::Integer, false},
    {u"PCENV", u"UDFreeHdd_General32", Form::Integer, false},
    {u"PCENV", u"UDFreeMem_General32", Form::Integer, false},
    {u"PCENV", u"UDFreeGdi_General32", Form::Integer, false},
    {u"PCENV", u"UDFreeHdd_DTP32", Form::Integer, false},
    {u"PCENV", u"UDFreeMem_DTP32", Form::Integer, false},
    {u"PCENV", u"UDFreeGdi_DTP32", Form::Integer, false},
    {u"PCENV", u"UDEnableEnv", Form::Integer, false},
    {u"MISC", u"UDDizaling", Form::Integer, false},
    {u"MISC", u"UDPrintMode", Form::Integer, false},
    {u"MISC", u"UDExpand", Form::Integer, false},
    {u"MISC", u"UDfBanding", Form::Integer, false},
    {u"MISC", u"UDfHbrMode", Form::Integer, false},
    {u"MISC", u"UDfPaperKind", Form::Integer, false},
    {u"MISC", u"UDfUserDefPaper", Form::Integer, false},
    {u"MISC", u"UDPrDensity", Form::Integer, false},
    {u"MISC", u"UDScaleField", Form::Integer, false},
    {u"MISC", u"UDBlackLetter", Form::Integer, false},
    {u"MISC", u"UDOffsetX", Form::Integer, false},
    {u"MISC", u"UDOffsetY", Form::Integer, false},
    {u"MISC", u"UDICMMethod", Form::Integer, false},
    {u"MISC", u"UDICMIntent", Form::Integer, false},
};

// Sections whose keys are row numbers: per paper-table row, per built-in
// media type, per font substitution row.
constexpr int kMediaTypes = 29;
constexpr int kSubstRows = 32;
constexpr int kBuiltInSources = 9;
constexpr int kBuiltInPaperTypes = 9;
constexpr int kResolutionRows = 13;

// The built-in paper-id table, in its order: row n of the paper file must carry entry n's id.
const int kBuiltInPaperIds[] = {9,   11,  70,  13,  263, 1,   5,   14,  7,   43,  82,  73,  74,  91,  264, 27,  28,  20,  37,  256,
                                19,  30,  266, 8,   12,  267, 268, 3,   269, 270, 271, 30,  256, 8,   12,  69,  71,  72,  274, 257,
                                258, 259, 260, 261, 262, 275, 276, 277, 278, 279, 280, 281, 282, 283, 284, 285, 88,  6,   31};

const std::u16string kIndex = PathOf(u"ZNTR.DAT");

struct Model {
    std::u16string name;
    std::u16string defaultFile; // full paths
    std::u16string customFile;
};

// The models named by the index (every section but Common and General).
std::vector<Model> Models()
{
    std::vector<Model> models;
    for (const std::u16string& section : Sections(kIndex)) {
        if (Upper(section) == u"COMMON" || Upper(section) == u"GENERAL")
            continue;
        models.push_back({section, PathOf(Read(kIndex, section, u"DefaultFile").value_or(u"")),
                          PathOf(Read(kIndex, section, u"CustomFile").value_or(u""))});
    }
    return models;
}

// CustomFile first, then DefaultFile.
std::optional<std::u16string> Lookup(const Model& m, const std::u16string& section, const std::u16string& key)
{
    if (auto v = Read(m.customFile, section, key))
        return v;
    return Read(m.defaultFile, section, key);
}

// As the plug-in reads an integer key: DefaultFile with the built-in default,
// then CustomFile with that result.
UINT LookupInt(const Model& m, const char16_t* section, const char16_t* key, INT builtIn)
{
    const UINT def = GetPrivateProfileIntW(section, key, builtIn, m.defaultFile.c_str());
    return GetPrivateProfileIntW(section, key, static_cast<INT>(def), m.customFile.c_str());
}

std::u16string PaperFile() { return PathOf(Read(kIndex, u"Common", u"InitDataFile2").value_or(u"")); }
std::u16string SeedFile() { return PathOf(Read(kIndex, u"Common", u"InitDataFile3").value_or(u"")); }

int PaperRows()
{
    int n = 0;
    while (n < 64 && Read(PaperFile(), u"AllPaper", u"AllPaper" + W(std::to_string(n + 1))))
        ++n;
    return n;
}

std::vector<std::int64_t> ListOf(const Model& m, const std::u16string& key)
{
    return Numbers(Lookup(m, u"PRINTERINFO", key).value_or(u"")).value_or(std::vector<std::int64_t>{});
}

bool Exists(const std::u16string& path) { return std::filesystem::is_regular_file(N(path)); }

// ---- The index ------------------------------------------------------------------------

TEST(DriverData, IndexNamesExistingFilesForCommonAndEveryModel)
{
    ASSERT_TRUE(Exists(kIndex));
    EXPECT_TRUE(Read(kIndex, u"Common", u"InitDataFile1").has_value());
    for (const char16_t* key : {u"InitDataFile2", u"InitDataFile3"}) {
        const auto name = Read(kIndex, u"Common", key);
        ASSERT_TRUE(name) << N(key);
        EXPECT_TRUE(Exists(PathOf(*name))) << N(*name);
    }
    const std::vector<Model> models = Models();
    ASSERT_EQ(models.size(), 3u);
    std::set<std::u16string> cacheNames;
    for (const Model& m : models) {
        for (const char16_t* key : {u"DefaultFile", u"CustomFile"}) {
            const auto name = Read(kIndex, m.name, key);
            ASSERT_TRUE(name) << N(m.name) << " " << N(key);
            EXPECT_TRUE(Exists(PathOf(*name))) << N(*name);
        }
        // The model cache is named after DefaultFile up to its first ".": one per model.
        const std::u16string def = *Read(kIndex, m.name, u"DefaultFile");
        EXPECT_TRUE(cacheNames.insert(Upper(def.substr(0, def.find(u'.')))).second) << N(def);
        EXPECT_NE(Upper(m.defaultFile), Upper(m.customFile));
    }
}

// A keyed resource: the model's section, then General.
std::optional<std::u16string> Keyed(const std::u16string& model, const std::u16string& key)
{
    if (auto v = Read(kIndex, model, key))
        return v;
    return Read(kIndex, u"General", key);
}

TEST(DriverData, KeyedResourcesTheUiReadsResolveForEveryModel)
{
    const char16_t* const used[] = {u"StringResDLL", u"DialogResDLL", u"NetworkExtensionFile", u"DitherTableDLL", u"CCMFile",
                                    u"DataFolder",   u"Help File",    u"RegKey_Swatch",        u"SwatchFile"};
    for (const Model& m : Models())
        for (const char16_t* key : used)
            EXPECT_TRUE(Keyed(m.name, key)) << N(m.name) << " " << N(key);

    EXPECT_EQ(Read(kIndex, u"General", u"StringResDLL"), u"ZNTRSLOC.DLL");
    EXPECT_EQ(Read(kIndex, u"General", u"DialogResDLL"), u"ZNTRRLOC.DLL");
    EXPECT_EQ(Read(kIndex, u"General", u"DataFolder"), u"Halvane");
    // The printer data value DitherTable holds at most 39 characters.
    for (const Model& m : Models())
        EXPECT_LE(Keyed(m.name, u"DitherTableDLL").value_or(u"").size(), 39u) << N(m.name);
}

TEST(DriverData, SomeModelsOverrideGeneralResourcesAndOthersInheritThem)
{
    int overriding = 0, inheriting = 0;
    for (const Model& m : Models()) {
        bool own = false;
        for (const std::u16string& key : Keys(kIndex, m.name)) {
            if (key == u"DefaultFile" || key == u"CustomFile")
                continue;
            own = true;
            // A value of the model's own shadows a key that General has too.
            EXPECT_TRUE(Read(kIndex, u"General", key)) << N(m.name) << " " << N(key);
            EXPECT_NE(Read(kIndex, m.name, key), Read(kIndex, u"General", key)) << N(key);
        }
        (own ? overriding : inheriting)++;
    }
    EXPECT_GE(overriding, 1);
    EXPECT_GE(inheriting, 1);
}

// ---- Version stamps -------------------------------------------------------------

TEST(DriverData, EveryStampedFileCarriesItsVersion)
{
    std::vector<std::u16string> files = {PaperFile(), SeedFile()};
    for (const Model& m : Models()) {
        files.push_back(m.defaultFile);
        files.push_back(m.customFile);
    }
    for (const std::u16string& file : files) {
        const UINT ver = GetPrivateProfileIntW(u"VERSION", u"Ver", 0, file.c_str());
        EXPECT_GT(ver, 0u) << N(file);
        EXPECT_LE(ver, 0xFFFFu) << N(file);
    }
}

// ---- The paper table ---------------------------------------------------------------

TEST(DriverData, PaperTableFollowsTheBuiltInOrderWithConsistentSizes)
{
    const std::u16string file = PaperFile();
    const int rows = PaperRows();
    ASSERT_EQ(rows, static_cast<int>(std::size(kBuiltInPaperIds)));
    EXPECT_FALSE(Read(file, u"AllPaper", u"AllPaper" + W(std::to_string(rows + 1))));
    for (int n = 1; n <= rows; ++n) {
        const std::u16string s = W(std::to_string(n));
        const auto fields = Fields(*Read(file, u"AllPaper", u"AllPaper" + s));
        ASSERT_EQ(fields.size(), 6u) << n;
        EXPECT_EQ(Number(fields[0]), kBuiltInPaperIds[n - 1]) << "row " << n;
        const auto name = Quoted(fields[1]);
        ASSERT_TRUE(name) << n;
        EXPECT_FALSE(name->empty());
        EXPECT_LE(name->size(), 63u);
        EXPECT_EQ(name->find(u','), std::u16string::npos);
        for (int i : {2, 3})
            EXPECT_TRUE(Number(fields[i])) << n;
        const auto w = Number(fields[4]), h = Number(fields[5]);
        ASSERT_TRUE(w && h) << n;
        EXPECT_GT(*w, 0);
        EXPECT_GT(*h, 0);
        EXPECT_LT(*w, 32768);
        EXPECT_LT(*h, 32768);

        // 0.1 mm as the plug-in converts pixels, unless the row gives its own.
        std::int64_t mw = (*w * 508 + 300) * 5 / 3000, mh = (*h * 508 + 300) * 5 / 3000;
        if (auto mm = Read(file, u"AllPaper", u"AllPaper_mmSize" + s)) {
            const auto v = Numbers(*mm);
            ASSERT_TRUE(v && v->size() == 2) << n;
            // Given only where it differs, and then by a rounding step at most.
            EXPECT_TRUE((*v)[0] != mw || (*v)[1] != mh) << "row " << n << " needs no mm size";
            EXPECT_LE(std::abs((*v)[0] - mw), 2) << n;
            EXPECT_LE(std::abs((*v)[1] - mh), 2) << n;
            mw = (*v)[0];
            mh = (*v)[1];
        }
        EXPECT_GE(mw, 500) << n;
        EXPECT_LE(mh, 5000) << n;

        for (const char16_t* layout : {u"AllPaper_port", u"AllPaper_land"}) {
            const auto value = Read(file, u"AllPaper", layout + s);
            if (!value)
                continue;
            const auto f = Fields(*value);
            ASSERT_EQ(f.size(), 6u) << n;
            for (int i = 0; i < 5; ++i)
                EXPECT_TRUE(Number(f[i])) << n;
            EXPECT_LE(Number(f[4]).value_or(99), 8) << n;
            EXPECT_TRUE(Quoted(f[5])) << n;
        }
    }
}

// ---- User-defined paper seeds ------------------------------------------------------

TEST(DriverData, EverySeedInTheListHasItsPaper)
{
    const std::u16string file = SeedFile();
    const UINT count = GetPrivateProfileIntW(u"UserDefPaper", u"numDefine", 0, file.c_str());
    ASSERT_GT(count, 0u);
    const auto entry = Read(file, u"UserDefPaper", u"PaperEntry");
    ASSERT_TRUE(entry);
    EXPECT_LE(entry->size(), 255u);
    // Each number is followed by ","; a number without one would end the list.
    ASSERT_EQ(entry->back(), u',');
    auto numbers = Numbers(entry->substr(0, entry->size() - 1));
    ASSERT_TRUE(numbers);
    EXPECT_EQ(numbers->size(), count);
    EXPECT_EQ(std::set<std::int64_t>(numbers->begin(), numbers->end()).size(), numbers->size());
    for (std::int64_t n : *numbers) {
        const auto paper = Read(file, u"UserDefPaper", u"Paper" + W(std::to_string(n)));
        ASSERT_TRUE(paper) << "Paper" << n;
        EXPECT_LE(paper->size(), 127u);
        const auto f = Fields(*paper);
        ASSERT_EQ(f.size(), 5u) << n;
        EXPECT_TRUE(Quoted(f[0])) << n;
        const auto w = Number(f[1]), l = Number(f[2]), unit = Number(f[3]), hidden = Number(f[4]);
        ASSERT_TRUE(w && l && unit && hidden) << n;
        EXPECT_LE(*w, *l) << n;
        EXPECT_GE(*w, 500);
        EXPECT_LE(*l, 12000);
        EXPECT_TRUE(*unit == 0 || *unit == 1);
        EXPECT_TRUE(*hidden == 0 || *hidden == 1);
    }
}

// ---- The model descriptions -------------------------------------------------------

// Each key of the table present (CustomFile, then DefaultFile) and well formed.
TEST(DriverData, EveryModelHasEveryKeyInItsFilePair)
{
    const int rows = PaperRows();
    for (const Model& m : Models()) {
        SCOPED_TRACE(N(m.name));
        std::vector<KeyRule> keys(std::begin(kModelKeys), std::end(kModelKeys));
        std::vector<std::u16string> names; // storage for the numbered keys
        names.reserve(rows * 2 + kMediaTypes + kSubstRows);
        for (int n = 1; n <= rows; ++n) {
            names.push_back(W(std::to_string(n)));
            keys.push_back({u"PaperSourceType", names.back().c_str(), Form::Options, false});
            keys.push_back({u"PaperTypeFlags", names.back().c_str(), Form::Integer, false});
        }
        for (int n = 1; n <= kMediaTypes; ++n) {
            names.push_back(W(std::to_string(n)));
            keys.push_back({u"AllMediatype", names.back().c_str(), Form::Options, false});
        }
        for (int n = 2; n <= kSubstRows; ++n) {
            names.push_back(W(std::to_string(n)));
            keys.push_back({u"SUBSTTABLE", names.back().c_str(), Form::Subst, true});
        }
        for (const KeyRule& k : keys) {
            const auto value = k.section == std::u16string(u"SUBSTTABLE") ? Read(m.defaultFile, k.section, k.key)
                                                                            : Lookup(m, k.section, k.key);
            if (!value) {
                EXPECT_TRUE(k.mayDefault) << N(k.section) << "/" << N(k.key) << " missing";
                continue;
            }
            const std::string where = N(k.section) + "/" + N(k.key) + " = " + N(*value);
            switch (k.form) {
            case Form::Integer:
                EXPECT_TRUE(Number(Fields(*value)[0])) << where;
                break;
            case Form::YesNo:
                EXPECT_TRUE(IsYesNo(*value)) << where;
                break;
            case Form::List:
                EXPECT_TRUE(Numbers(*value)) << where;
                break;
            case Form::Options:
                EXPECT_TRUE(IsOptionString(*value)) << where;
                break;
            case Form::Finisher:
                EXPECT_TRUE(IsFinisherString(*value)) << where;
                break;
            case Form::Limits: {
                const auto v = Numbers(*value);
                EXPECT_TRUE(v && v->size() == 8) << where;
                break;
            }
            case Form::Subst: {
                const auto f = Fields(*value);
                EXPECT_TRUE(f.size() == 3 && Quoted(f[0]) && Quoted(f[1]) && Number(f[2])) << where;
                break;
            }
            }
        }
        // A substitution row after a gap would never be read.
        bool gap = false;
        for (int n = 1; n <= kSubstRows; ++n) {
            const bool present = Read(m.defaultFile, u"SUBSTTABLE", W(std::to_string(n))).has_value();
            EXPECT_FALSE(gap && present) << "SUBSTTABLE/" << n << " after a gap";
            gap = gap || !present;
        }
    }
}

// Every key that a description file holds is one the plug-in reads: a
// misspelt key would silently leave its built-in default in force.
TEST(DriverData, DescriptionFilesHoldOnlyKeysThePlugInReads)
{
    std::map<std::u16string, std::set<std::u16string>> known;
    for (const KeyRule& k : kModelKeys)
        known[Upper(k.section)].insert(Upper(k.key));
    const std::map<std::u16string, int> numbered = {
        {u"PAPERSOURCETYPE", PaperRows()}, {u"PAPERTYPEFLAGS", PaperRows()}, {u"ALLMEDIATYPE", kMediaTypes}, {u"SUBSTTABLE", kSubstRows}};
    for (const Model& m : Models()) {
        for (const std::u16string& file : {m.defaultFile, m.customFile}) {
            for (const std::u16string& section : Sections(file)) {
                const std::u16string s = Upper(section);
                for (const std::u16string& key : Keys(file, section)) {
                    const std::string where = N(file) + " [" + N(section) + "] " + N(key);
                    if (auto limit = numbered.find(s); limit != numbered.end()) {
                        const auto n = Number(key);
                        EXPECT_TRUE(n && *n >= 1 && *n <= limit->second) << where;
                    } else {
                        EXPECT_TRUE(known.count(s) && known[s].count(Upper(key))) << where;
                    }
                }
            }
        }
    }
}

// A CustomFile only overrides: each of its keys is in the DefaultFile as well,
// and at least one model's CustomFile changes some value.
TEST(DriverData, CustomFilesOverrideKeysOfTheirDefaultFiles)
{
    int changed = 0;
    for (const Model& m : Models()) {
        for (const std::u16string& section : Sections(m.customFile)) {
            if (Upper(section) == u"VERSION")
                continue;
            for (const std::u16string& key : Keys(m.customFile, section)) {
                const auto def = Read(m.defaultFile, section, key);
                EXPECT_TRUE(def) << N(m.name) << " [" << N(section) << "] " << N(key) << " is not in the DefaultFile";
                if (def && CutComment(*def) != CutComment(*Read(m.customFile, section, key)))
                    ++changed;
            }
        }
    }
    EXPECT_GE(changed, 3);
}

TEST(DriverData, ListsPointIntoTheirTables)
{
    const int rows = PaperRows();
    const std::u16string paperFile = PaperFile();
    for (const Model& m : Models()) {
        SCOPED_TRACE(N(m.name));
        struct ListCase {
            const char16_t* list;
            const char16_t* order;
            std::int64_t size;
        };
        const ListCase lists[] = {
            {u"PaperSize", u"PaperOrder", rows},         {u"PaperSize_inch", u"PaperOrder_inch", rows},
            {u"PaperSize_mm", u"PaperOrder_mm", rows},   {u"Source", u"SourceOrder", kBuiltInSources},
            {u"PaperType", u"PaperTypeOrder", kBuiltInPaperTypes}, {u"MediaType", u"MediatypeOrder", kMediaTypes},
        };
        for (const ListCase& c : lists) {
            const auto list = ListOf(m, c.list);
            ASSERT_FALSE(list.empty()) << N(c.list);
            EXPECT_LE(list.size(), 64u) << N(c.list);
            for (std::int64_t v : list)
                EXPECT_TRUE(v >= 0 && v < c.size) << N(c.list) << " " << v;
            EXPECT_EQ(std::set<std::int64_t>(list.begin(), list.end()).size(), list.size()) << N(c.list) << " repeats";
            const auto order = Number(Fields(Lookup(m, u"PRINTERINFO", c.order).value_or(u""))[0]);
            ASSERT_TRUE(order) << N(c.order);
            EXPECT_TRUE(*order >= 0 && *order < static_cast<std::int64_t>(list.size())) << N(c.order);
        }
        // The default paper of each list is fed from some tray; the mm and inch
        // defaults are A4 and Letter.
        const auto mm = ListOf(m, u"PaperSize_mm"), inch = ListOf(m, u"PaperSize_inch");
        const auto idAt = [&](std::int64_t pos) {
            return Number(Fields(*Read(paperFile, u"AllPaper", u"AllPaper" + W(std::to_string(pos + 1))))[0]);
        };
        EXPECT_EQ(idAt(mm.at(LookupInt(m, u"PRINTERINFO", u"PaperOrder_mm", 0))), 9);
        EXPECT_EQ(idAt(inch.at(LookupInt(m, u"PRINTERINFO", u"PaperOrder_inch", 0))), 1);

        // Every paper the model lists can be fed from a source the model has;
        // every media type it lists likewise.
        const char16_t sourceLetter[kBuiltInSources] = {u'A', u'1', u'2', u'3', u'4', u'5', u'P', u'M', u'M'};
        std::u16string letters;
        for (std::int64_t s : ListOf(m, u"Source"))
            letters += sourceLetter[s];
        std::set<std::int64_t> listed;
        for (const char16_t* key : {u"PaperSize", u"PaperSize_inch", u"PaperSize_mm"})
            for (std::int64_t p : ListOf(m, key))
                listed.insert(p);
        for (std::int64_t p : listed) {
            const auto trays = TrayLetters(Lookup(m, u"PaperSourceType", W(std::to_string(p + 1))).value_or(u""));
            ASSERT_TRUE(trays) << "paper position " << p;
            EXPECT_NE(trays->find_first_of(letters), std::u16string::npos) << "paper position " << p << " has no source";
            for (char16_t t : *trays) {
                if (t != u'D' && t != u'F') {
                    EXPECT_NE(letters.find(t), std::u16string::npos) << "paper position " << p << " names tray " << char(t);
                }
            }
        }
        for (std::int64_t media : ListOf(m, u"MediaType")) {
            const auto trays = TrayLetters(Lookup(m, u"AllMediatype", W(std::to_string(media + 1))).value_or(u""));
            ASSERT_TRUE(trays) << "media position " << media;
            EXPECT_NE(trays->find_first_of(letters), std::u16string::npos) << "media position " << media << " has no source";
        }
    }
}

TEST(DriverData, QualityRowsAndTimeOutsAreUsable)
{
    const std::set<std::int64_t> noOption = {4, 6};
    for (const Model& m : Models()) {
        SCOPED_TRACE(N(m.name));
        const auto quality = ListOf(m, u"QualityType");
        const auto timeOut = ListOf(m, u"TimeOut");
        ASSERT_EQ(quality.size(), 4u);
        ASSERT_EQ(timeOut.size(), 4u);
        // With a third value of -1 the model has two levels, -3 and -2, found at indexes 0 and 1.
        const bool twoLevels = quality[2] == -1;
        for (int q = -4; q <= -1; ++q) {
            const int index = twoLevels ? q + 3 : q + 4;
            if (index < 0 || quality[index] == -1)
                continue;
            EXPECT_TRUE(quality[index] >= 0 && quality[index] < kResolutionRows && !noOption.count(quality[index]))
                << "quality " << q << " row " << quality[index];
        }
        for (std::int64_t t : timeOut)
            EXPECT_TRUE(t == -1 || (t > 0 && t < 65535)) << t;
        // The default quality is one the model offers.
        const auto def = Number(Fields(Lookup(m, u"RESOLUTION", u"UDPrintQuality").value_or(u""))[0]);
        ASSERT_TRUE(def);
        const int index = static_cast<int>(twoLevels ? *def + 3 : *def + 4);
        ASSERT_TRUE(index >= 0 && index < 4) << *def;
        EXPECT_NE(quality[index], -1) << *def;
    }
}

TEST(DriverData, UserSizeLimitsAgreeInBothUnitsAndBothOrientations)
{
    for (const Model& m : Models()) {
        SCOPED_TRACE(N(m.name));
        for (const char16_t* set : {u"UDDPIChange", u"UDFreeSize", u"UDFinisherSize"}) {
            const auto port = Numbers(Lookup(m, u"USERFREESIZE", set + std::u16string(u"_Portrait")).value_or(u""));
            const auto land = Numbers(Lookup(m, u"USERFREESIZE", set + std::u16string(u"_Landscape")).value_or(u""));
            ASSERT_TRUE(port && land && port->size() == 8 && land->size() == 8) << N(set);
            const auto& p = *port;
            const auto& l = *land;
            for (int i : {0, 1, 4, 5}) // 0.1 mm against 1/300 inch
                EXPECT_LE(std::abs(p[i] * 300 / 254 - p[i + 2]), 1) << N(set) << " value " << i;
            EXPECT_GE(p[0], p[4]) << N(set);
            EXPECT_GE(p[1], p[5]) << N(set);
            const int swap[8] = {1, 0, 3, 2, 5, 4, 7, 6};
            for (int i = 0; i < 8; ++i)
                EXPECT_EQ(l[i], p[swap[i]]) << N(set) << " landscape value " << i;
        }
    }
}

// What makes the three models differ where the plug-in branches.
TEST(DriverData, ModelsDifferWhereThePlugInBranches)
{
    struct Case {
        const char16_t* model;
        std::vector<const char16_t*> yes;
        std::vector<const char16_t*> no;
        bool twoQualityLevels;
        bool feedFlags; // papers with feed-direction and rotation codes
        bool timeOuts;
    };
    const Case cases[] = {
        {u"Halvane QV-2040", {u"Monochrome", u"MptIsManual", u"OptionTray"}, {u"Duplex", u"A3Printer", u"Finisher", u"MKK"}, true, false, false},
        {u"Halvane QV-3560C", {u"A3Printer", u"MKK", u"TonerSave3", u"Duplex", u"Finisher", u"DuplexOption"}, {u"Monochrome", u"MptIsManual"},
         false, true, true},
        {u"Halvane QV-4550", {u"OptionTray", u"Duplex", u"Monochrome"}, {u"A3Printer", u"Finisher", u"TonerSave3"}, false, true, true},
    };
    const std::vector<Model> models = Models();
    std::set<std::int64_t> modelIds;
    for (const Case& c : cases) {
        SCOPED_TRACE(N(c.model));
        const auto m = std::find_if(models.begin(), models.end(), [&](const Model& x) { return x.name == c.model; });
        ASSERT_NE(m, models.end());
        for (const char16_t* cap : c.yes)
            EXPECT_EQ(Upper(CutComment(Lookup(*m, u"PRINTERINFO", cap).value_or(u""))), u"YES") << N(cap);
        for (const char16_t* cap : c.no)
            EXPECT_EQ(Upper(CutComment(Lookup(*m, u"PRINTERINFO", cap).value_or(u""))), u"NO") << N(cap);
        EXPECT_EQ(ListOf(*m, u"QualityType").at(2) == -1, c.twoQualityLevels);
        const auto timeOut = ListOf(*m, u"TimeOut");
        EXPECT_EQ(std::count(timeOut.begin(), timeOut.end(), -1) < 4, c.timeOuts);

        int feed = 0, rotation = 0;
        for (const char16_t* key : {u"PaperSize_mm", u"PaperSize_inch"})
            for (std::int64_t p : ListOf(*m, key)) {
                const auto flags = Number(Lookup(*m, u"PaperTypeFlags", W(std::to_string(p + 1))).value_or(u"0"));
                ASSERT_TRUE(flags);
                const std::int64_t dir = *flags & 0x0F00, rot = *flags & 0xF000;
                feed += dir != 0;
                rotation += rot != 0;
                // Codes as the filters decode them; anything else would be published as 0.
                EXPECT_TRUE(dir == 0 || dir == 0x100 || dir == 0x200 || dir == 0x300) << p;
                EXPECT_TRUE(rot == 0 || rot == 0x1000 || rot == 0x2000 || rot == 0x4000) << p;
            }
        EXPECT_EQ(feed > 0, c.feedFlags);
        EXPECT_EQ(rotation > 0, c.feedFlags);
        modelIds.insert(GetPrivateProfileIntW(u"PRINTERINFO", u"wModelID", 0, m->defaultFile.c_str()));
    }
    EXPECT_EQ(modelIds.size(), 3u);
}

// ---- The capability file and the installed options --------------------------------

TEST(DriverData, CapabilityFileHasASectionWithEveryKeyForEveryModel)
{
    const std::u16string file = PathOf(u"ZNTR.CAP");
    ASSERT_TRUE(Exists(file));
    const char16_t* const keys[] = {u"CCMInfoFile", u"JobInfoWMK", u"SwatchRegPath", u"NewLogo",   u"SuperColor",
                                    u"TabLinkName", u"TabURL",     u"AskHalvURL",    u"AskHalvRES", u"GetIPDll",
                                    u"NetExtDAT",   u"USBExtDLL",  u"USBExtDAT",     u"InstalledOptions", u"JobInfoDll"};
    for (const Model& m : Models()) {
        const auto section = Read(file, u"Capability", m.name);
        ASSERT_TRUE(section) << N(m.name);
        for (const char16_t* key : keys) {
            const auto value = Read(file, *section, key);
            ASSERT_TRUE(value) << N(*section) << "/" << N(key);
            // File names are joined to the plug-in's folder: no folder of their own.
            if (std::u16string(key).find(u"File") != std::u16string::npos || std::u16string(key).find(u"Dll") != std::u16string::npos ||
                std::u16string(key).find(u"DLL") != std::u16string::npos || std::u16string(key).find(u"DAT") != std::u16string::npos) {
                EXPECT_EQ(value->find_first_of(u"\\/:"), std::u16string::npos) << N(key) << " = " << N(*value);
            }
        }
        for (const char16_t* key : {u"NewLogo", u"SuperColor", u"InstalledOptions"})
            EXPECT_TRUE(Number(*Read(file, *section, key))) << N(key);
    }
}

TEST(DriverData, InstalledOptionsExampleHasAMaskPerPrinter)
{
    const std::u16string file = PathOf(u"HALVOPT.DAT");
    const auto printers = Sections(file);
    ASSERT_FALSE(printers.empty());
    for (const std::u16string& printer : printers) {
        const auto value = Read(file, printer, u"Installed");
        ASSERT_TRUE(value) << N(printer);
        const auto mask = Number(*value);
        ASSERT_TRUE(mask) << N(printer);
        // Bits 0x1-0x8 trays, 0x10 additional tray option, 0x20 duplex, 0x40 finisher, 0x80 hard disk.
        EXPECT_EQ(*mask & ~0xFF, 0) << N(printer);
    }
}

} // namespace
