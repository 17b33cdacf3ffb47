// The driver's data files: the index found from the module's name, data-file
// paths, keyed resources with their General fallback, the user INI file and
// the user-defined papers seeded into it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/stringapiset.h"
#include "platform/winbase.h"
#include "platform/winspool.h"
#include "uiplug-in-old/core/data_files.h"
#include "xps_fixture.h"

namespace {

std::u16string W(const std::string& text) { return Utf8ToWide(text); }

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::u16string Profile(const std::u16string& file, const char16_t* section, const char16_t* key)
{
    char16_t buffer[512] = {};
    const DWORD n = GetPrivateProfileStringW(section, key, u"", buffer, 512, file.c_str());
    return std::u16string(buffer, n);
}

// A driver folder with a module ABCD_UI.so and its index, and a state root of its own.
struct DriverFolder {
    TempFolder driver;
    TempFolder state;
    DriverDataFiles files;

    explicit DriverFolder(const std::string& index)
        : files((setenv("ZNTR_STATE_DIR", state.path.c_str(), 1), W(driver / "ABCD_UI.so")))
    {
        WriteText(driver / "ABCD.DAT", index);
    }
};

TEST(DataFiles, IndexAndUserIniAreNamedFromTheModulesFirstFourCharacters)
{
    struct Case {
        const char16_t* module;
        const char16_t* index;
        const char16_t* ini;
    };
    const Case cases[] = {
        {u"/opt/driver/ABCD_UI.so", u"ABCD.DAT", u"ABCD.ini"},
        {u"C:\\Windows\\System32\\spool\\ZNTR_UI.DLL", u"ZNTR.DAT", u"ZNTR.ini"},
        {u"ZNTR_UI", u"ZNTR.DAT", u"ZNTR.ini"},
        {u"/x/AB.so", u"AB.s.DAT", u"AB.s.ini"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DataIndexNameFor(c.module), c.index);
        EXPECT_EQ(UserIniNameFor(c.module), c.ini);
    }
    DriverFolder d("");
    EXPECT_EQ(d.files.IndexPath(), W(d.driver / "ABCD.DAT"));
    EXPECT_EQ(d.files.UserIniPath(), d.files.DataFolder() + u"\\ABCD.ini");
    EXPECT_EQ(d.files.DataFolder().substr(d.files.DataFolder().size() - 17), u"\\Halvane\\Drv\\ZNTR");
}

TEST(DataFiles, DataFilePathsComeFromTheNamedSectionOnly)
{
    DriverFolder d("[Common]\nInitDataFile2 = PAPER.INI\n[QV-2040]\nDefaultFile=QV2040.DEF\n"
                   "[General]\nCustomFile=GENERAL.CUS\n");
    const std::u16string folder = W(d.driver.path.string()) + u"/";
    EXPECT_EQ(d.files.DataFilePath(u"Common", u"InitDataFile2", true), folder + u"PAPER.INI");
    EXPECT_EQ(d.files.DataFilePath(u"Common", u"InitDataFile2", false), u"PAPER.INI");
    EXPECT_EQ(d.files.DataFilePath(u"QV-2040", u"DefaultFile", true), folder + u"QV2040.DEF");
    EXPECT_EQ(d.files.DataFilePath(u"QV-2040", u"CustomFile", true), u"");  // not taken from General
    EXPECT_EQ(d.files.DataFilePath(u"QV-9999", u"DefaultFile", true), u"");
}

TEST(DataFiles, KeyedResourcesFallBackToGeneralOnlyWhenASectionWasGiven)
{
    DriverFolder d("[General]\nStringResDLL=ZNTRSLOC.DLL\nDataFolder=Halvane\n"
                   "[QV-2040]\nDialogResDLL=QV2040R.DLL\nDataFolder=QV\n");
    struct Case {
        int number;
        const char16_t* section;
        const char16_t* value;
    };
    const Case cases[] = {
        {11, u"QV-2040", u"ZNTRSLOC.DLL"},  // only in General: found through the fallback
        {12, u"QV-2040", u"QV2040R.DLL"},
        {12, nullptr, u""},                 // only in the model section: not found without it
        {12, u"General", u""},
        {50, u"QV-2040", u"QV"},            // the model's own value wins
        {50, nullptr, u"Halvane"},
        {11, u"QV-9999", u"ZNTRSLOC.DLL"},
        {13, u"QV-2040", u""},              // a number with no key
        {-1, nullptr, u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(d.files.KeyedResource(c.number, c.section), c.value)
            << c.number << " in " << (c.section ? WideToUtf8(c.section) : "(none)");
    EXPECT_STREQ(reinterpret_cast<const char*>(u"Help File"), reinterpret_cast<const char*>(KeyedResourceKey(51)));
    char16_t small[5];
    EXPECT_EQ(d.files.KeyedResource(11, nullptr, small, 5), 4u);  // truncated as the profile functions do
    EXPECT_EQ(std::u16string(small), u"ZNTR");
}

TEST(DataFiles, UserIniIsMadeOnceAsUtf16ForEveryUserAndKeepsWhatItHolds)
{
    DriverFolder d("");
    const std::string ini = WideToUtf8(d.files.UserIniPath());
    std::string native = ini;
    for (char& c : native)
        if (c == '\\')
            c = '/';
    ASSERT_TRUE(d.files.EnsureUserIni());
    const std::string made = ReadBytes(native);
    ASSERT_GE(made.size(), 2u);
    EXPECT_EQ(made.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(Profile(d.files.UserIniPath(), u"Generic", u"This"), u"Printer Driver INI File");
    struct stat info {};
    ASSERT_EQ(stat(native.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0666, 0666u);

    // A later initialisation keeps the user's settings.
    ASSERT_TRUE(WritePrivateProfileStringW(u"Watermark", u"W0000001", u"CONFIDENTIAL", d.files.UserIniPath().c_str()));
    ASSERT_TRUE(d.files.EnsureUserIni());
    EXPECT_EQ(Profile(d.files.UserIniPath(), u"Watermark", u"W0000001"), u"CONFIDENTIAL");
    EXPECT_EQ(ReadBytes(native).substr(0, 2), "\xFF\xFE");
}

TEST(DataFiles, SeedPapersComeFirstAndTheUsersOwnFollow)
{
    DriverFolder d("[Common]\nInitDataFile3=USERPAPR.INI\n");
    WriteText(d.driver / "USERPAPR.INI", "[UserDefPaper]\nnumDefine=2\nPaperEntry=3,5\n"
                                        "Paper3=\"Postcard\",1181,1748\nPaper5=\"Banner\",2480,7016\n");
    ASSERT_TRUE(d.files.EnsureUserIni());
    const std::u16string& ini = d.files.UserIniPath();
    WritePrivateProfileStringW(u"UserDefPaper", u"numDefine", u"2", ini.c_str());
    WritePrivateProfileStringW(u"UserDefPaper", u"PaperEntry", u"5,9,", ini.c_str());
    WritePrivateProfileStringW(u"UserDefPaper", u"Paper5", u"\"Mine\",100,100", ini.c_str());
    WritePrivateProfileStringW(u"UserDefPaper", u"Paper9", u"\"Also mine\",200,200", ini.c_str());

    d.files.SeedUserDefinedPapers();
    EXPECT_EQ(Profile(ini, u"UserDefPaper", u"PaperEntry"), u"3,5,9,");
    EXPECT_EQ(Profile(ini, u"UserDefPaper", u"numDefine"), u"3");
    EXPECT_EQ(Profile(ini, u"UserDefPaper", u"Paper3"), u"\"Postcard\",1181,1748");
    EXPECT_EQ(Profile(ini, u"UserDefPaper", u"Paper5"), u"\"Banner\",2480,7016");  // the seed's, not the user's
    EXPECT_EQ(Profile(ini, u"UserDefPaper", u"Paper9"), u"\"Also mine\",200,200");

    // Seeding again changes nothing.
    d.files.SeedUserDefinedPapers();
    EXPECT_EQ(Profile(ini, u"UserDefPaper", u"PaperEntry"), u"3,5,9,");
    EXPECT_EQ(Profile(ini, u"UserDefPaper", u"numDefine"), u"3");
}

TEST(DataFiles, CapabilitiesComeFromTheDriversCapFileWithTheirDefaults)
{
    DriverFolder d("");
    WriteText(d.driver / "zntr.cap", "[Capability]\nQV-3560C=QV3560\n[QV3560]\nNewLogo=1\nNetExtDAT=QV3560NE.DAT\n"
                                     "TabURL=https://example.invalid/qv3560\nInstalledOptions=0x60\n");
    setenv("ZNTR_DRIVER_DIR", d.driver.path.c_str(), 1);
    std::u16string name = u"capability test";
    PRINTER_INFO_1W info{0, nullptr, name.data(), nullptr};
    HANDLE printer = AddPrinterW(nullptr, 1, reinterpret_cast<LPBYTE>(&info));
    ASSERT_NE(printer, nullptr);
    EXPECT_EQ(DriverDataFiles::CapabilityFilePath(printer), W(d.driver / "zntr.cap"));
    struct Case {
        const char16_t* model;
        const char16_t* key;
        const char16_t* value;
    };
    const Case cases[] = {
        {u"QV-3560C", u"NewLogo", u"1"},
        {u"QV-3560C", u"InstalledOptions", u"96"},
        {u"QV-3560C", u"SuperColor", u"0"},          // an integer key that is absent
        {u"QV-3560C", u"NetExtDAT", u"QV3560NE.DAT"},
        {u"QV-3560C", u"USBExtDAT", u"QVUSBEXT.DAT"},  // the default
        {u"QV-3560C", u"TabURL", u"https://example.invalid/qv3560"},
        {u"QV-3560C", u"TabLinkName", u""},
        {u"QV-9999", u"GetIPDll", u"QVHCWNXT.DLL"},    // no section for the model: defaults only
        {u"QV-9999", u"NewLogo", u"0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(d.files.CapabilityValue(printer, c.model, c.key), c.value) << WideToUtf8(c.key);
    ClosePrinter(printer);
    unsetenv("ZNTR_DRIVER_DIR");
}

TEST(DataFiles, PluginStrings)
{
    EXPECT_EQ(std::u16string(PluginString(2103)), u"UserDefPaper");
    EXPECT_EQ(std::u16string(PluginString(2107)), u"Paper%d");
    EXPECT_EQ(std::u16string(PluginString(2)), u"Printer has been calibrated.");
    EXPECT_EQ(PluginString(2104), nullptr);
}

} // namespace
