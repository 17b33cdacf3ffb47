// The model descriptions: the lookup order over CustomFile, DefaultFile and
// the built-in values, the paper table and its names, the per-paper and media
// masks, the country's paper list, the caches and their stamps, the queries,
// and the sample data set's three models.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/stringapiset.h"
#include "platform/winnls.h"
#include "platform/winreg.h"
#include "uiplug-in-old/core/model_cache.h"
#include "uiplug-in-old/core/model_description.h"
#include "uiplug-in-old/core/model_tables.h"
#include "uiplug-in-old/core/resource_library.h"
#include "xps_fixture.h"

namespace fs = std::filesystem;

namespace {

std::u16string W(const std::string& text) { return Utf8ToWide(text); }

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Builds a string resource library from resource source text.
void CompileStrings(const TempFolder& folder, const std::string& library, const std::string& source)
{
    const std::string rc = folder / (library + ".rc");
    WriteText(rc, source);
    const std::string command = std::string(ZNTR_BUILD_DIR) + "/zntr-rc '" + rc + "' '" + (folder / library) + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A small paper table: A4 (with its exact mm size), Letter, a row whose id
// the built-in table has only earlier, and a size-format free size.
constexpr const char* kPaperFile =
    "[VERSION]\nVer=1\n[AllPaper]\n"
    "AllPaper1=9, \"A4\", 0, 0, 2480, 3507\n"
    "AllPaper_port1=2480, 3507, 12, 12, 5, \"\\x1BPZ01\"\n"
    "AllPaper_land1=3507, 2480, 13, 14, 9, \"too long\"\n"
    "AllPaper_mmSize1=2100, 2970\n"
    "AllPaper2=1, \"Letter\", 0, 0, 2550, 3300\n"
    "AllPaper3=9, \"A4 again\", 0, 0, 2480, 3507\n"
    "AllPaper4=263, \"Free %d by %d \", 3, 0, 2480, 3507\n";

// A driver folder with its index, paper table, seeds and two models, and a
// state root of its own (the data folder with the caches is in it).
struct ModelFolder {
    TempFolder driver;
    TempFolder state;
    DriverDataFiles files;

    ModelFolder()
        : files((setenv("ZNTR_STATE_DIR", state.path.c_str(), 1), SetUserDefaultLCIDForTesting(1031),
                 W(driver / "ZNTR_UI.so")))
    {
        WriteText(driver / "ZNTR.DAT",
                  "[Common]\nInitDataFile1=TPAPER.CAH\nInitDataFile2=TPAPER.DAT\nInitDataFile3=TSEED.DAT\n"
                  "[General]\nStringResDLL=TSTR.DLL\n"
                  "[Model A]\nDefaultFile=MODELADF.DAT\nCustomFile=MODELACF.DAT\n"
                  "[Model B]\nDefaultFile=MODELBDF.DAT\nCustomFile=MODELBCF.DAT\n");
        WriteText(driver / "TPAPER.DAT", kPaperFile);
        WriteText(driver / "TSEED.DAT", "[VERSION]\nVer=1\n[UserDefPaper]\nnumDefine=0\n");
        Model("A", "", "");
        Model("B", "", "");
    }
    ~ModelFolder() { SetUserDefaultLCIDForTesting(0); }

    void Model(const std::string& name, const std::string& defaultFile, const std::string& customFile)
    {
        WriteText(driver / ("MODEL" + name + "DF.DAT"), "[VERSION]\nVer=1\n" + defaultFile);
        WriteText(driver / ("MODEL" + name + "CF.DAT"), "[VERSION]\nVer=1\n" + customFile);
    }
    void Strings(const std::string& paperListAsRead)
    {
        CompileStrings(driver, "TSTR.DLL",
                       "LANGUAGE 1033\nSTRING 1818 \"" + paperListAsRead +
                           "\"\nSTRING 300 \"A4 paper\"\nSTRING 305 \"Letter paper\"\nSTRING 304 \"Free %d x %d \"\n"
                           "STRING 9000 \"A4 (210 x 297 mm)\"\nSTRING 700 \"millimetres\"\nSTRING 211 \"Automatic\"\n"
                           "STRING 200 \"Tray 1 is a rather long source name\"\nSTRING 9800 \"Plain\"\nSTRING 1314 \"Default\"\n");
    }
    std::string Cache(const std::string& name) const { return (state.path / "ProgramData/Halvane/Drv/ZNTR" / name).string(); }
};

std::vector<WORD> PaperIds(const ModelDescription& m)
{
    std::vector<WORD> ids;
    for (int i = 0; i < m.Info().papers.count; ++i)
        ids.push_back(m.PaperIdAt(i));
    return ids;
}

ModelDescription& Loaded(ModelTable& table, const char16_t* model)
{
    table.Load(model);
    ModelDescription* m = table.Find(model);
    if (!m)
        throw std::runtime_error("model not loaded");
    return *m;
}

}  // namespace

TEST(ModelDescription, ListKeysComeWholeFromOneFileOrTheBuiltInString)
{
    ModelFolder d;
    d.Model("A", "", "");
    d.Model("B", "[PRINTERINFO]\nPaperSize=3,2,1\nSource=1,2,3 ; trays\n", "[PRINTERINFO]\nPaperSize=0\n");
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    const PositionList& builtIn = a.Info().papers;
    EXPECT_EQ(builtIn.count, 22);
    EXPECT_EQ(builtIn.order, 1);
    EXPECT_EQ((std::vector<WORD>(builtIn.values.begin(), builtIn.values.begin() + 22)),
              (std::vector<WORD>{0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 20, 17, 18, 33, 34, 19}));
    EXPECT_EQ(a.Info().sources.count, 5);
    EXPECT_EQ(a.Info().paperTypes.count, 8);
    EXPECT_EQ(a.Info().mediaTypes.count, 9);

    const ModelDescription& b = Loaded(table, u"Model B");
    EXPECT_EQ(b.Info().papers.count, 1);  // CustomFile's list, not mixed with DefaultFile's
    EXPECT_EQ(b.Info().papers.values[0], 0);
    EXPECT_EQ(b.Info().papers.values[1], 0);
    EXPECT_EQ(b.Info().sources.count, 3);  // DefaultFile's, its comment cut
    EXPECT_EQ(b.SourceIdAt(2), 260);
}

TEST(ModelDescription, CapabilitiesFinisherQualitiesAndTheOtherRecordKeys)
{
    ModelFolder d;
    d.Model("A",
            "[PRINTERINFO]\nCollate=Maybe\nResidentFont=NO\nDuplex=yes\nMonochrome=Yes\nInfoType=5\n"
            "QualityType=5,1,-1,-1\nTimeOut=30, -1\ndwDefAvlMemory=0x2000, 7\nwPPM=40\n",
            "[PRINTERINFO]\nMonochrome=No\nA3Printer=Yes\nwFinisherType=PUNCH.23_ + TRAY.12___\n");
    d.Model("B", "", "");
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    // 0x806 by default; Maybe keeps Collate clear, NO clears ResidentFont, CustomFile's No wins.
    EXPECT_EQ(a.Info().capabilities, 0x804u | capability::Duplex | capability::A3Printer);
    EXPECT_EQ(a.Info().infoType, 4);  // bit 0 is cleared by every Find
    EXPECT_EQ(a.Info().finisher, 0x303);
    EXPECT_EQ(a.Info().defaultMemory, 0x2000u);
    EXPECT_EQ(a.Info().pagesPerMinute, 40);
    EXPECT_EQ(a.Info().modelId, 32);
    EXPECT_EQ(a.Info().logoBitmapId, 1);
    EXPECT_EQ(a.Info().timeOuts, (std::array<WORD, 4>{30, 65535, 0, 0}));

    const ModelDescription& b = Loaded(table, u"Model B");
    EXPECT_EQ(b.Info().capabilities, 0x806u);
    EXPECT_EQ(b.Info().finisher, 0x1A01);
    EXPECT_EQ(b.Info().defaultMemory, 3696u);
    EXPECT_EQ(b.Info().timeOuts, (std::array<WORD, 4>{65535, 65535, 65535, 65535}));

    // Quality rows: four levels from -4, two levels (third value -1) from -3.
    struct Case {
        int quality;
        std::optional<int> a, b;
    };
    const Case cases[] = {{-5, {}, {}}, {-4, {}, 3}, {-3, 5, 2}, {-2, 1, 1}, {-1, {}, 0}, {0, {}, {}}};
    for (const Case& c : cases) {
        EXPECT_EQ(a.QualityRow(c.quality), c.a) << c.quality;
        EXPECT_EQ(b.QualityRow(c.quality), c.b) << c.quality;
    }
}

TEST(ModelDescription, QualityRowsOutsideTheResolutionTableAreNone)
{
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nQualityType=13,12,0,-2\n", "");
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    EXPECT_EQ(a.QualityRow(-4), std::nullopt);
    EXPECT_EQ(a.QualityRow(-3), 12);
    EXPECT_EQ(a.QualityRow(-2), 0);
    EXPECT_EQ(a.QualityRow(-1), std::nullopt);
}

TEST(ModelDescription, PaperTableRowsNamesAndLayouts)
{
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nPaperSize=0,1,2,3\nPaperOrder=1\n[PaperTypeFlags]\n4=0x1001\n", "");
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    const PaperTable& papers = a.Papers();
    ASSERT_EQ(papers.rows.size(), 4u);
    EXPECT_EQ(papers.rows[0].name, u"A4");
    EXPECT_EQ(papers.rows[0].shortNameId, 300);
    EXPECT_EQ(papers.rows[1].shortNameId, 305);  // Letter: entry 5, found forward from row 1
    // Id 9 is only at entry 0 of the built-in table: row 2 does not search back
    // and takes entry 0's names anyway, as does every row without a match.
    EXPECT_EQ(papers.rows[2].shortNameId, 300);
    EXPECT_EQ(papers.rows[2].longNameId, 9000);
    EXPECT_EQ(papers.rows[3].shortNameId, 304);

    const PaperLayout& portrait = a.PaperLayoutAt(0, 1);
    EXPECT_EQ(portrait.commandLength, 5);
    EXPECT_EQ(std::string(portrait.command.begin(), portrait.command.begin() + 5), "\x1BPZ01");
    EXPECT_EQ(portrait.second1, 12);
    // A command longer than its 8 bytes is not kept.
    const PaperLayout& landscape = a.PaperLayoutAt(0, 2);
    EXPECT_EQ(landscape.width, 3507);
    EXPECT_EQ(landscape.commandLength, 0);
    EXPECT_EQ(landscape.command[0], 0);

    // Sizes: the mm pair where given, else the pixels rounded to 0.1 mm.
    EXPECT_EQ(a.PaperSizeAt(0), (std::pair<WORD, WORD>{2100, 2970}));
    EXPECT_EQ(a.PaperSizeAt(1), (std::pair<WORD, WORD>{2159, 2794}));
    EXPECT_EQ(a.PaperPixelsAt(1), (std::pair<WORD, WORD>{2550, 3300}));
    EXPECT_EQ(a.Defaults().paperId, 1);  // PaperOrder 1: Letter
    EXPECT_EQ(a.Defaults().paperWidth, 2159);
    EXPECT_EQ(a.Defaults().paperLength, 2794);
    // A default paper with a mm pair records that pair, as the size query answers.
    d.Model("B", "[PRINTERINFO]\nPaperSize=3,0\nPaperOrder=1\n", "");
    const ModelDescription& b = Loaded(table, u"Model B");
    EXPECT_EQ(b.Defaults().paperId, 9);
    EXPECT_EQ(b.Defaults().paperLength, 2970);
    EXPECT_EQ(b.PaperSizeAt(3), (std::pair<WORD, WORD>{2100, 2970}));
    EXPECT_EQ(b.PaperSizeAt(0), (std::pair<WORD, WORD>{2100, 2969}));  // the free size: pixels only
}

TEST(ModelDescription, PaperQueriesAndTheDefaultPosition)
{
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nPaperSize=1,0,3\nPaperOrder=1\n", "");
    d.Model("B", "[PRINTERINFO]\nPaperSize=1,0\nPaperOrder=5\n", "");
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    EXPECT_EQ(PaperIds(a), (std::vector<WORD>{1, 9, 263}));
    EXPECT_EQ(a.PaperIdAt(3), 0);  // the count is outside the list
    EXPECT_EQ(a.PaperIdAt(-1), 0);
    EXPECT_EQ(a.PositionOfPaper(263), 2);
    EXPECT_EQ(a.PositionOfPaper(5), -2);
    EXPECT_EQ(a.PositionOfPaper(0), -1);
    EXPECT_EQ(a.DefaultPaperId(), 9);
    // Outside the list, the other queries answer for the default paper.
    EXPECT_EQ(a.PaperPixelsAt(3), a.PaperPixelsAt(1));
    EXPECT_EQ(a.PaperSizeAt(-7), (std::pair<WORD, WORD>{2100, 2970}));

    // PaperOrder beyond the count: the queries still take the list's slot 5,
    // here zero, which is row 0 (A4).
    const ModelDescription& b = Loaded(table, u"Model B");
    EXPECT_EQ(b.DefaultPaperId(), 9);
    EXPECT_EQ(b.PaperSizeAt(2), (std::pair<WORD, WORD>{2100, 2970}));
}

TEST(ModelDescription, DisplayNamesOfSizeFormatPapersCarryTheirSizeAndUnit)
{
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nPaperSize=0,3,1\n[PaperTypeFlags]\n4=1\n", "");
    d.Strings("Yes");
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    WORD id = 0;
    // Before the localised names: the paper file's names and "mm".
    EXPECT_EQ(a.PaperDisplayName(0, false, &id), u"A4");
    EXPECT_EQ(id, 9);
    // 2480 x 3507 pixels without a mm pair: 210.0 x 296.9 mm.
    EXPECT_EQ(a.PaperDisplayName(1, false), u"Free 210.0 by 296.9 mm");
    EXPECT_EQ(a.PaperDisplayName(1, true, &id), u"Free 8.27 by 11.69 inch");
    EXPECT_EQ(id, 263);

    const ResourceLibrary strings = LoadResourceLibrary(d.files, u"Model A", ResourceKind::Strings);
    ASSERT_TRUE(strings);
    table.LoadLocalisedNames(strings.Get());
    EXPECT_EQ(a.PaperDisplayName(0, false), u"A4 paper");
    EXPECT_EQ(a.PaperDisplayName(2, true), u"Letter paper");
    EXPECT_EQ(a.PaperDisplayName(1, false), u"Free 210.0 x 296.9 millimetres");
    EXPECT_EQ(a.PaperLongName(0, strings.Get()), u"A4 (210 x 297 mm)");
    EXPECT_EQ(a.SourceName(0), u"Automatic");
    EXPECT_EQ(a.SourceName(2), u"Tray 1 is a rather long");  // 23 characters at most
    EXPECT_EQ(a.PaperTypeName(0), u"Plain");
    EXPECT_EQ(a.MediaName(0, strings.Get()), u"Default");
}

TEST(ModelDescription, SourcesPaperTypesMediaAndTheirMasks)
{
    ModelFolder d;
    d.Model("A",
            "[PRINTERINFO]\nSource=0,7,1,12\nSourceOrder=1\nPaperType=2,9\nMediaType=1,40\nMediatypeOrder=0\n"
            "[PaperSourceType]\n1=TRAY.1____AM___ + STK.U_\n2=TRAY.1x\n"
            "[AllMediatype]\n2=TRAY._____AM___ + STK.UD + FIN.__ + EJS__L____\n",
            "[PaperSourceType]\n1=TRAY.1_3___M___ + STK.U_\n");
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    EXPECT_EQ(a.SourceIdAt(0), 7);
    EXPECT_EQ(a.SourceIdAt(9), 4);  // outside: SourceOrder's
    EXPECT_EQ(a.SourceIdAt(3), 0);  // a position beyond the built-in table
    EXPECT_EQ(a.PositionOfSource(1), 2);
    EXPECT_EQ(a.PositionOfSource(259), -1);
    EXPECT_EQ(a.PaperTypeIdAt(0), 514);
    EXPECT_EQ(a.PaperTypeIdAt(1), 0);
    EXPECT_EQ(a.PositionOfPaperType(514), 0);

    // Paper masks: CustomFile's row 1, DefaultFile's row 2, the default string for the rest.
    const auto maskOfRow = [&](WORD row) {
        for (int i = 0; i < a.Info().papers.count; ++i)
            if (a.Info().papers.values[static_cast<std::size_t>(i)] == row)
                return a.PaperSourcesAt(i);
        return DWORD{0xDEAD};
    };
    EXPECT_EQ(maskOfRow(0), 0x10015u);
    EXPECT_EQ(maskOfRow(1), 0xFFu);
    EXPECT_EQ(maskOfRow(2), 0x5F0F01FFu);
    ASSERT_EQ(a.MediaTable().size(), 29u);
    EXPECT_EQ(a.MediaAt(0)->id, 1);
    EXPECT_EQ(a.MediaAt(0)->options, 0x30084u);
    EXPECT_EQ(a.MediaAt(0)->nameId, 1302);
    EXPECT_FALSE(a.MediaAt(1));  // position 40 of a 29-entry table
    EXPECT_EQ(a.MediaIdAt(5), 1);
    EXPECT_EQ(a.PositionOfMedia(1), 0);
    EXPECT_EQ(a.MediaTable()[28].id, 33);
    EXPECT_EQ(a.MediaTable()[28].options, 0x5F0F01FFu);
}

TEST(ModelDescription, UserSizeLimitsAndFontSubstitution)
{
    ModelFolder d;
    d.Model("A",
            "[PRINTERINFO]\nA3Printer=Yes\n[USERFREESIZE]\nUDFreeSize_Portrait=2000, 3000, 1, 2, 1000, 1500, 3, 4\n"
            "[SUBSTTABLE]\n1=\"Arial\", \"Helvetica\", -2\n2=\"Times\\x2C New\", \"Roman\", 1\n3=\"A,B\", \"C\", 1\n5=\"X\", \"Y\", 1\n",
            "[SUBSTTABLE]\n1=\"Ignored\", \"Ignored\", 0\n");
    ModelTable table(d.files);
    ModelDescription& a = Loaded(table, u"Model A");
    EXPECT_FALSE(a.UsesFinisherSizeLimits());
    EXPECT_EQ(a.UserSizeLimits().portrait.maxWidthMm, 2000);
    EXPECT_EQ(a.UserSizeLimits().portrait.minHeightPx, 4);
    EXPECT_EQ(a.UserSizeLimits().landscape.maxWidthMm, 2970);  // built-in
    a.SetFinisherSizeLimits(true);
    EXPECT_TRUE(a.UsesFinisherSizeLimits());
    EXPECT_EQ(a.FinisherMask(), 0x1A01 | kFinisherSizeLimits);
    EXPECT_EQ(a.UserSizeLimits().portrait.maxHeightMm, 12000);
    EXPECT_EQ(a.DpiChangeLimits().portrait.maxHeightMm, 2970);
    a.SetFinisherSizeLimits(false);
    EXPECT_EQ(a.UserSizeLimits().portrait.maxHeightMm, 3000);
    EXPECT_EQ(a.FinisherMask(), 0x1A01);
    // Without A3Printer the finisher flag does not choose the finisher set.
    ModelDescription& b = Loaded(table, u"Model B");
    b.SetFinisherSizeLimits(true);
    EXPECT_FALSE(b.UsesFinisherSizeLimits());
    EXPECT_EQ(b.UserSizeLimits().portrait.maxHeightMm, 2970);

    // DefaultFile only, up to the first missing key; a comma ends a quoted name.
    ASSERT_EQ(a.Substitutions().size(), 3u);
    EXPECT_EQ(a.Substitutions()[0].font, u"Arial");
    EXPECT_EQ(a.Substitutions()[0].substitute, u"Helvetica");
    EXPECT_EQ(a.Substitutions()[0].value, -2);
    EXPECT_EQ(a.Substitutions()[1].font, u"Times, New");
    EXPECT_EQ(a.Substitutions()[2].font, u"A");
    EXPECT_EQ(a.Substitutions()[2].substitute, u"");
}

TEST(ModelDescription, TheCountryChoosesTheListUnlessTheStringLibrarySaysOtherwise)
{
    struct Case {
        const char* listAsRead;
        LCID locale;
        std::vector<WORD> ids;
        WORD defaultId;
    };
    const Case cases[] = {
        {"No", 1033, {1, 263}, 263},   // United States: the inch list
        {"No", 1031, {9, 1, 9}, 9},    // Germany: the mm list
        {"No", 2058, {1, 263}, 263},   // Mexico, 52
        {"Yes", 1033, {263}, 263},     // the list as read
        {"Maybe", 1033, {263}, 263},   // neither: the built-in 0x4 stays
    };
    for (const Case& c : cases) {
        ModelFolder d;
        d.Model("A", "[PRINTERINFO]\nPaperSize=3\nPaperOrder=0\nPaperSize_inch=1,3\nPaperOrder_inch=1\n",
                "[PRINTERINFO]\nPaperSize_mm=0,1,2\nPaperOrder_mm=2\n");
        d.Strings(c.listAsRead);
        SetUserDefaultLCIDForTesting(c.locale);
        ModelTable table(d.files);
        const ModelDescription& a = Loaded(table, u"Model A");
        EXPECT_EQ(PaperIds(a), c.ids) << c.listAsRead << " " << c.locale;
        EXPECT_EQ(a.DefaultPaperId(), c.defaultId) << c.listAsRead << " " << c.locale;
        EXPECT_EQ(IsInchCountry(), c.locale != 1031);
    }
    // Find answers with the list of the country in force now, in a new
    // entry: the one found before stays as it was for those reading it.
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nPaperSize_inch=1\nPaperSize_mm=0,2\n", "");
    d.Strings("No");
    SetUserDefaultLCIDForTesting(1033);
    ModelTable table(d.files);
    const ModelDescription& a = Loaded(table, u"Model A");
    EXPECT_EQ(PaperIds(a), (std::vector<WORD>{1}));
    SetUserDefaultLCIDForTesting(1036);
    const ModelDescription* french = table.Find(u"Model A");
    EXPECT_EQ(PaperIds(*french), (std::vector<WORD>{9, 9}));
    EXPECT_EQ(PaperIds(a), (std::vector<WORD>{1}));
    EXPECT_EQ(table.Find(u"Model A"), french);
}

TEST(ModelDescription, InchCountries)
{
    for (int code : {1, 2, 51, 52, 54, 56, 57, 58, 501, 504, 507, 591, 593, 595, 598})
        EXPECT_TRUE(IsInchCountryCode(code)) << code;
    for (int code : {0, 3, 7, 33, 44, 49, 53, 55, 59, 81, 500, 508, 590, 592, 594, 596, 597, 599})
        EXPECT_FALSE(IsInchCountryCode(code)) << code;
}

TEST(ModelDescription, StampBlockAnswersWhetherTheFilesChanged)
{
    ModelFolder d;
    WriteText(d.driver / "MODELADF.DAT", "[VERSION]\nVer=3\n");
    WriteText(d.driver / "MODELACF.DAT", "[VERSION]\nVer=4\n");
    ModelTable table(d.files);
    std::array<WORD, 6> block{1, 1, 3, 4, 9, 9};
    EXPECT_FALSE(table.Load(u"Model A", block.data()));
    EXPECT_EQ(block, (std::array<WORD, 6>{1, 1, 3, 4, 0, 0}));
    block = {1, 1, 3, 5, 0, 0};
    EXPECT_TRUE(table.Load(u"Model A", block.data()));
    EXPECT_EQ(block, (std::array<WORD, 6>{1, 1, 3, 4, 0, 0}));
    EXPECT_FALSE(table.Load(u"model a", block.data()));  // names compare without case
    EXPECT_FALSE(table.Load(u"Model A"));              // no block, no answer
    EXPECT_EQ(table.Find(u"MODEL A"), table.Find(u"Model A"));
    EXPECT_EQ(table.Find(u"Model B"), nullptr);  // never loaded
}

TEST(ModelDescription, CachesAreUsedUntilAStampRises)
{
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nwPPM=10\nPaperSize=0\n", "");
    { ModelTable table(d.files); EXPECT_EQ(Loaded(table, u"Model A").Info().pagesPerMinute, 10); }
    ASSERT_TRUE(fs::exists(d.Cache("TPAPER.cah")));
    ASSERT_TRUE(fs::exists(d.Cache("MODELADF.cah")));
    EXPECT_EQ(fs::file_size(d.Cache("TPAPER.cah")), ModelCache::PaperSize());
    EXPECT_EQ(fs::file_size(d.Cache("MODELADF.cah")), ModelCache::ModelSize());

    // Edited without a new stamp: a new process still takes the caches.
    WriteText(d.driver / "MODELADF.DAT", "[VERSION]\nVer=1\n[PRINTERINFO]\nwPPM=20\nPaperSize=0\n");
    std::string paper = kPaperFile;
    paper.replace(paper.find("\"A4\""), 4, "\"A4 new\"");
    WriteText(d.driver / "TPAPER.DAT", paper);
    const auto loaded = [&] {
        ModelTable table(d.files);
        const ModelDescription& a = Loaded(table, u"Model A");
        return std::pair<int, std::u16string>(a.Info().pagesPerMinute, a.Papers().rows[0].name);
    };
    EXPECT_EQ(loaded(), (std::pair<int, std::u16string>(10, u"A4")));

    // A CustomFile stamp rebuilds the model, not the paper table.
    WriteText(d.driver / "MODELACF.DAT", "[VERSION]\nVer=2\n");
    EXPECT_EQ(loaded(), (std::pair<int, std::u16string>(20, u"A4")));
    // The paper file's stamp rebuilds both.
    WriteText(d.driver / "MODELADF.DAT", "[VERSION]\nVer=1\n[PRINTERINFO]\nwPPM=30\nPaperSize=0\n");
    paper.replace(paper.find("Ver=1"), 5, "Ver=2");
    WriteText(d.driver / "TPAPER.DAT", paper);
    EXPECT_EQ(loaded(), (std::pair<int, std::u16string>(30, u"A4 new")));

    // A cache of the wrong size, or of the right size with another layout, is ignored.
    WriteText(d.driver / "MODELADF.DAT", "[VERSION]\nVer=1\n[PRINTERINFO]\nwPPM=40\nPaperSize=0\n");
    std::string bytes;
    {
        std::ifstream in(d.Cache("MODELADF.cah"), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    WriteText(d.Cache("MODELADF.cah"), bytes.substr(0, bytes.size() - 1));
    EXPECT_EQ(loaded().first, 40);
    WriteText(d.driver / "MODELADF.DAT", "[VERSION]\nVer=1\n[PRINTERINFO]\nwPPM=50\nPaperSize=0\n");
    bytes[4] ^= 1;  // the layout tag
    WriteText(d.Cache("MODELADF.cah"), bytes);
    EXPECT_EQ(loaded().first, 50);
    WriteText(d.driver / "MODELADF.DAT", "[VERSION]\nVer=1\n[PRINTERINFO]\nwPPM=60\nPaperSize=0\n");
    EXPECT_EQ(loaded().first, 50);  // the rebuilt cache is taken again
}

TEST(ModelDescription, AReloadMakesANewEntryAndLeavesTheOldOneReadable)
{
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nwPPM=10\n", "");
    ModelTable table(d.files);
    const ModelDescription& before = Loaded(table, u"Model A");
    table.Load(u"Model A");
    EXPECT_EQ(table.Find(u"Model A"), &before);  // nothing changed: the same entry

    WriteText(d.driver / "MODELACF.DAT", "[VERSION]\nVer=2\n[PRINTERINFO]\nwPPM=20\n");
    const ModelDescription& after = Loaded(table, u"Model A");
    EXPECT_NE(&after, &before);
    EXPECT_EQ(after.Info().pagesPerMinute, 20);
    EXPECT_EQ(before.Info().pagesPerMinute, 10);

    // Forced, the files are read even where the stamps and the caches agree.
    WriteText(d.driver / "MODELACF.DAT", "[VERSION]\nVer=2\n[PRINTERINFO]\nwPPM=30\n");
    WriteText(d.driver / "TPAPER.DAT", std::string(kPaperFile).replace(std::string(kPaperFile).find("\"A4\""), 4, "\"A4 forced\""));
    table.Load(u"Model A", nullptr, true);
    EXPECT_EQ(table.Find(u"Model A")->Info().pagesPerMinute, 30);
    EXPECT_EQ(table.Find(u"Model A")->Papers().rows[0].name, u"A4 forced");
    ModelTable next(d.files);
    EXPECT_EQ(Loaded(next, u"Model A").Info().pagesPerMinute, 30);  // and the caches were written anew
}

TEST(ModelDescription, ModelsSharingADefaultFileDoNotTakeEachOthersCache)
{
    ModelFolder d;
    WriteText(d.driver / "ZNTR.DAT",
              "[Common]\nInitDataFile1=TPAPER.CAH\nInitDataFile2=TPAPER.DAT\nInitDataFile3=TSEED.DAT\n"
              "[Model A]\nDefaultFile=SHARED.DAT\nCustomFile=MODELACF.DAT\n"
              "[Model B]\nDefaultFile=SHARED.DAT\nCustomFile=MODELBCF.DAT\n");
    WriteText(d.driver / "SHARED.DAT", "[VERSION]\nVer=1\n[PRINTERINFO]\nwPPM=10\n");
    WriteText(d.driver / "MODELBCF.DAT", "[VERSION]\nVer=1\n[PRINTERINFO]\nwPPM=20\n");
    for (int process = 0; process < 2; ++process) {
        ModelTable table(d.files);
        EXPECT_EQ(Loaded(table, u"Model A").Info().pagesPerMinute, 10) << process;
        EXPECT_EQ(Loaded(table, u"Model B").Info().pagesPerMinute, 20) << process;
        EXPECT_EQ(Loaded(table, u"Model A").Info().modelName, u"Model A") << process;
    }
}

TEST(ModelDescription, LongModelNamesFindTheirEntryAgain)
{
    for (std::size_t length : {63u, 64u, 80u}) {
        ModelFolder d;
        const std::string name(length, 'Q');
        WriteText(d.driver / "ZNTR.DAT", "[" + name + "]\nDefaultFile=MODELADF.DAT\nCustomFile=MODELACF.DAT\n");
        ModelTable table(d.files);
        const ModelDescription& first = Loaded(table, W(name).c_str());
        EXPECT_EQ(&Loaded(table, W(name).c_str()), &first) << length;
        EXPECT_EQ(first.Info().modelName.size(), 63u < length ? 63u : length);
        ModelTable next(d.files);  // and from the cache
        EXPECT_EQ(Loaded(next, W(name).c_str()).Defaults().modelName, W(name.substr(0, 64))) << length;
    }
}

TEST(ModelDescription, ACacheRoundTripsTheWholeEntry)
{
    ModelFolder d;
    d.Model("A",
            "[PRINTERINFO]\nQualityType=5,1,-1,-1\nSource=0,7,1\n[SUBSTTABLE]\n1=\"Arial\", \"Helvetica\", -2\n"
            "[PaperTypeFlags]\n2=0x1200\n",
            "[PRINTERINFO]\nDuplex=No\n");
    ModelTable first(d.files);
    const ModelDescription& parsed = Loaded(first, u"Model A");
    ModelTable second(d.files);
    const ModelDescription& cached = Loaded(second, u"Model A");
    EXPECT_EQ(ModelCache::ModelBytes(parsed), ModelCache::ModelBytes(cached));
    EXPECT_EQ(ModelCache::PaperBytes(parsed.Papers()), ModelCache::PaperBytes(cached.Papers()));
    EXPECT_EQ(cached.Papers().rows.size(), 4u);
    EXPECT_EQ(cached.Substitutions().size(), 1u);
    EXPECT_EQ(cached.QualityRow(-3), 5);
}

TEST(ModelDescription, TwoThreadsLoadTwoModelsAtOnce)
{
    ModelFolder d;
    d.Model("A", "[PRINTERINFO]\nwPPM=11\nPaperSize_inch=1\nPaperSize_mm=0\n", "");
    d.Model("B", "[PRINTERINFO]\nwPPM=22\nA3Printer=Yes\nPaperSize_inch=1\nPaperSize_mm=0\n", "");
    d.Strings("No");
    ModelTable table(d.files);
    std::vector<int> seen(2);
    // Each thread loads its model (now and then forced) and reads both, also
    // through the entries it found before, while the first changes the
    // country (new entries with their paper lists) and the second the
    // finisher option of its model.
    const auto run = [&](const char16_t* model, int index) {
        const ModelDescription* earlier[2] = {nullptr, nullptr};
        int other = 0;
        for (int round = 0; round < 20; ++round) {
            table.Load(model, nullptr, round % 5 == 0);
            if (index == 0)
                SetUserDefaultLCIDForTesting(round % 2 ? 1033 : 1031);
            for (int k = 0; k < 2; ++k) {
                ModelDescription* m = table.Find(k == 0 ? u"Model A" : u"Model B");
                if (!m)  // the other thread has not loaded it yet
                    continue;
                if (k == 1 && index == 1)
                    m->SetFinisherSizeLimits(round % 2);
                const auto value = [](const ModelDescription& e) {
                    const int width = e.PaperSizeAt(0).first;
                    return e.Info().pagesPerMinute + (width == 2159 || width == 2100) +
                           e.UserSizeLimits().portrait.maxHeightMm / 1000;
                };
                (k == index ? seen[static_cast<std::size_t>(index)] : other) += value(*m);
                if (earlier[k])
                    other += value(*earlier[k]);
                earlier[k] = m;
            }
        }
        static_cast<void>(other);
    };
    std::thread a(run, u"Model A", 0);
    std::thread b(run, u"Model B", 1);
    a.join();
    b.join();
    EXPECT_EQ(seen[0], 20 * (11 + 1 + 2));
    // Model B's own reads see the limits its thread has just set.
    EXPECT_EQ(seen[1], 20 * (22 + 1) + 10 * 12 + 10 * 2);
}

TEST(ModelDescription, ResourceLibraryNamesAndLanguages)
{
    struct Case {
        std::u16string_view format;
        std::u16string_view name;
    };
    const Case cases[] = {
        {u"ZNTRSLOC.DLL", u"ZNTRSLOC.DLL"},
        {u"ZNTRS%s.DLL", u"ZNTRSDEU.DLL"},
        {u"%s\\%s.DLL", u"DEU\\%s.DLL"},
        {u"100%%%s", u"100%DEU"},
        {u"a%d%", u"a%d%"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LanguageLibraryName(c.format, u"DEU"), c.name);

    ModelFolder d;  // German user
    EXPECT_EQ(ResourceLanguages(), (std::vector<LANGID>{1031, 1033}));
    SetUserDefaultLCIDForTesting(2055);  // German (Switzerland): its neutral form is German
    EXPECT_EQ(ResourceLanguages(), (std::vector<LANGID>{2055, 1031, 1033}));

    // Each language in turn: its own library, else the LOC one.
    WriteText(d.driver / "ZNTR.DAT", "[General]\nStringResDLL=TS%s.DLL\n");
    const auto first = [&] { return LoadResourceText(LoadResourceLibrary(d.files, u"Model A", ResourceKind::Strings).Get(), 1); };
    EXPECT_EQ(first(), u"");
    CompileStrings(d.driver, "TSENU.DLL", "STRING 1 \"enu\"\n");
    EXPECT_EQ(first(), u"enu");
    CompileStrings(d.driver, "TSDES.DLL", "STRING 1 \"des\"\n");
    EXPECT_EQ(first(), u"des");
    CompileStrings(d.driver, "TSLOC.DLL", "STRING 1 \"loc\"\n");
    SetUserDefaultLCIDForTesting(1036);
    EXPECT_EQ(first(), u"loc");
    fs::remove(d.driver / "TSLOC.DLL");
    EXPECT_EQ(first(), u"enu");
    EXPECT_EQ(ResourceLibraryPath(d.files, u"Model A", ResourceKind::Dialogs), W(d.driver.path.string()) + u"/ZNTRRLOC.DLL");

    // The language key: its LanguageID comes first, and a value named after
    // the library's path puts the library elsewhere.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Halvane\\QVLANG\\0.0", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const DWORD english = 2057, japanese = 1041;
    RegSetValueExW(key, u"LanguageID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&english), sizeof english);
    RegSetValueExW(key, u"DefaultLanguageID", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&japanese), sizeof japanese);
    EXPECT_EQ(ResourceLanguages(), (std::vector<LANGID>{2057, 1033, 1036, 1041}));
    const std::u16string from = W(d.driver.path.string()) + u"/TS%s.DLL";
    const std::u16string to = W(d.driver.path.string()) + u"/TSDES.DLL";
    RegSetValueExW(key, from.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(to.c_str()),
                   static_cast<DWORD>((to.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    EXPECT_EQ(ResourceLibraryPath(d.files, u"Model A", ResourceKind::Strings), to);
    EXPECT_EQ(first(), u"des");
}
