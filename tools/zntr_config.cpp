// zntr-config: asks the UI plug-in's core what the print system's
// configuration module would ask it. For now, the driver data files:
//
//   zntr-config data-file KEY [SECTION]      a file named by the index (SECTION: Common)
//   zntr-config resource NUMBER [SECTION]    a keyed resource (SECTION: General)
//   zntr-config capability MODEL KEY         a value of the driver's capability file
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

namespace {

constexpr const char* kUsage =
    "usage: zntr-config data-file KEY [SECTION]     the data file KEY names (SECTION: Common)\n"
    "       zntr-config resource NUMBER [SECTION]   the keyed resource NUMBER (SECTION, else General)\n"
    "       zntr-config [--printer NAME] capability MODEL KEY\n"
    "                                               MODEL's KEY in the printer driver's capability file\n";

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

} // namespace

int main(int argc, char** argv)
{
    std::u16string printer = u"zntr-printer";
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
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
    return UsageError("unknown command or wrong number of arguments");
}
