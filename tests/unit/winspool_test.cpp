// The spooler's printers and printer data, kept on disk under the state root.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/stringapiset.h"

#include "platform/synchapi.h"
#include "platform/winspool.h"
#include "xps_fixture.h"

namespace {

LPWSTR W(const char16_t* text) { return const_cast<LPWSTR>(text); }

struct StateFolder {
    TempFolder tmp;
    StateFolder() { setenv("ZNTR_STATE_DIR", tmp.path.c_str(), 1); }
};

HANDLE AddPrinter(const char16_t* name)
{
    PRINTER_INFO_1W info{0, nullptr, W(name), nullptr};
    return AddPrinterW(nullptr, 1, reinterpret_cast<LPBYTE>(&info));
}

TEST(Printers, AreMadeOpenedAndClosedByName)
{
    StateFolder state;
    HANDLE h = nullptr;
    EXPECT_FALSE(OpenPrinterW(W(u"Office / 3rd floor"), &h, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    HANDLE made = AddPrinter(u"Office / 3rd floor");  // any name: it is not a path
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(AddPrinter(u"Office / 3rd floor"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_ALREADY_EXISTS);
    EXPECT_EQ(AddPrinter(u""), nullptr);
    ASSERT_TRUE(OpenPrinterW(W(u"Office / 3rd floor"), &h, nullptr));
    EXPECT_NE(h, made);
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_TRUE(ClosePrinter(made));
    EXPECT_FALSE(ClosePrinter(made));  // closed handles are refused
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(PrinterData, KeepsEachTypeAndAnswersAsTheSpoolerDoes)
{
    StateFolder state;
    HANDLE h = AddPrinter(u"p");
    ASSERT_NE(h, nullptr);
    DWORD flags = 0x8;
    const BYTE record[72] = {1, 2, 3};
    const char16_t text[] = u"tray";
    ASSERT_EQ(SetPrinterDataW(h, W(u"HalvPrinterData"), REG_DWORD, reinterpret_cast<LPBYTE>(&flags), 4), ERROR_SUCCESS);
    ASSERT_EQ(SetPrinterDataW(h, W(u"RotationInfo"), REG_BINARY, const_cast<LPBYTE>(record), sizeof record), ERROR_SUCCESS);
    ASSERT_EQ(SetPrinterDataW(h, W(u"Name"), REG_SZ, reinterpret_cast<LPBYTE>(const_cast<char16_t*>(text)), sizeof text),
              ERROR_SUCCESS);
    EXPECT_EQ(SetPrinterDataW(h, W(u"Bad"), REG_DWORD, reinterpret_cast<LPBYTE>(&flags), 2), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetPrinterDataW(h, W(u"Bad"), 7, reinterpret_cast<LPBYTE>(&flags), 4), ERROR_INVALID_PARAMETER);

    // The size query, then the read.
    DWORD type = 0;
    DWORD needed = 0;
    EXPECT_EQ(GetPrinterDataW(h, W(u"RotationInfo"), &type, nullptr, 0, &needed), ERROR_MORE_DATA);
    EXPECT_EQ(needed, 72u);
    EXPECT_EQ(type, REG_BINARY);
    BYTE buffer[72] = {};
    EXPECT_EQ(GetPrinterDataW(h, W(u"RotationInfo"), &type, buffer, 71, &needed), ERROR_MORE_DATA);
    ASSERT_EQ(GetPrinterDataW(h, W(u"RotationInfo"), &type, buffer, sizeof buffer, &needed), ERROR_SUCCESS);
    EXPECT_EQ(std::memcmp(buffer, record, sizeof record), 0);
    EXPECT_EQ(GetPrinterDataW(h, W(u"SelectableFeedDirectInfo"), &type, buffer, sizeof buffer, &needed), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetPrinterDataW(nullptr, W(u"RotationInfo"), &type, buffer, sizeof buffer, &needed), ERROR_INVALID_HANDLE);

    // What one handle wrote, the next one reads: the data are on disk.
    ClosePrinter(h);
    ASSERT_TRUE(OpenPrinterW(W(u"p"), &h, nullptr));
    DWORD read = 0;
    ASSERT_EQ(GetPrinterDataW(h, W(u"HalvPrinterData"), &type, reinterpret_cast<LPBYTE>(&read), 4, &needed), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, 0x8u);

    // Listed in name order; deleted one by one.
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[64];
        DWORD nameBytes = 0;
        DWORD dataBytes = 0;
        BYTE data[128];
        const DWORD r = EnumPrinterDataW(h, i, name, sizeof name, &nameBytes, &type, data, sizeof data, &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(r, ERROR_SUCCESS);
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"HalvPrinterData", u"Name", u"RotationInfo"}));
    EXPECT_EQ(DeletePrinterDataW(h, W(u"Name")), ERROR_SUCCESS);
    EXPECT_EQ(DeletePrinterDataW(h, W(u"Name")), ERROR_FILE_NOT_FOUND);
    ClosePrinter(h);
}

TEST(PrinterDriver, ListsTheDriverFolderAsDependentFiles)
{
    StateFolder state;
    TempFolder driver;
    setenv("ZNTR_DRIVER_DIR", driver.path.c_str(), 1);
    for (const char* name : {"ZNTR.DAT", "zntr.cap", "QV2040.DEF"})
        std::ofstream(driver / name) << "[x]\n";
    HANDLE h = AddPrinter(u"driver test");
    ASSERT_NE(h, nullptr);

    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverW(h, nullptr, 3, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(needed, sizeof(DRIVER_INFO_3W));
    std::vector<BYTE> buffer(needed);
    EXPECT_FALSE(GetPrinterDriverW(h, nullptr, 3, buffer.data(), needed - 1, &needed));
    ASSERT_TRUE(GetPrinterDriverW(h, nullptr, 3, buffer.data(), needed, &needed));
    const auto* info = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
    std::vector<std::string> files;
    for (const char16_t* f = info->pDependentFiles; *f; f += std::char_traits<char16_t>::length(f) + 1)
        files.push_back(WideToUtf8(f));
    EXPECT_EQ(files, (std::vector<std::string>{driver / "QV2040.DEF", driver / "ZNTR.DAT", driver / "zntr.cap"}));
    EXPECT_EQ(WideToUtf8(info->pConfigFile), driver / "ZNTR_UI.so");
    // Every string lies inside the buffer.
    for (const char16_t* p : {info->pName, info->pEnvironment, info->pDriverPath, info->pHelpFile, info->pMonitorName,
                              info->pDefaultDataType})
        EXPECT_TRUE(reinterpret_cast<const BYTE*>(p) >= buffer.data() && reinterpret_cast<const BYTE*>(p) < buffer.data() + needed);

    EXPECT_FALSE(GetPrinterDriverW(h, nullptr, 2, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    ClosePrinter(h);
    EXPECT_FALSE(GetPrinterDriverW(h, nullptr, 3, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    unsetenv("ZNTR_DRIVER_DIR");
}

TEST(StateRoot, FollowsTheEnvironment)
{
    StateFolder state;
    HANDLE h = AddPrinter(u"here");
    ASSERT_NE(h, nullptr);
    ClosePrinter(h);
    EXPECT_TRUE(std::filesystem::is_directory(state.tmp.path / "printers" / "here"));
}

} // namespace
