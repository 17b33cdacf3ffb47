// zntr-print: prints an XPS document through the driver's filter pipeline
// and writes what the pipeline hands on as a new XPS package.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/pipeline/pipeline_manager.h"
#include "platform/synchapi.h"
#include "printer_data.h"
#include "platform/stringapiset.h"

namespace {

constexpr const char* kUsage =
    "usage: zntr-print [options] INPUT.xps OUTPUT.xps\n"
    "       zntr-print [--printer NAME] --set-printer-data NAME=TYPE:VALUE ... | --delete-printer-data NAME ...\n"
    "                  | --list-printer-data\n"
    "\n"
    "Runs INPUT.xps through the filter pipeline (preprocess, finishing, rotation)\n"
    "and writes the result to OUTPUT.xps. OUTPUT is written only when the job succeeds.\n"
    "\n"
    "options:\n"
    "  --ticket FILE          the user's default PrintTicket (an empty ticket when absent)\n"
    "  --printer NAME         the printer the job is for (property \"PrinterName\";\n"
    "                         default zntr-printer)\n"
    "  --job-id N             the job id (property \"PrintJobId\", default 1)\n"
    "  --pipeline FILE        the pipeline configuration (default: zntr-pipeline.xml beside\n"
    "                         this command)\n"
    "  --max-inflated-size N  refuse packages whose parts inflate to more than N bytes\n"
    "                         (default 2147483648)\n"
    "  --progress             show on standard error the pages read from INPUT and the\n"
    "                         sheets written to OUTPUT (fewer with several pages a sheet)\n"
    "  --dump-records FILE    write the job record and the record of every page that reaches\n"
    "                         the last filter to FILE, as JSON lines\n"
    "  --help                 show this text\n"
    "\n"
    "printer data (each of these changes or lists the printer's data and runs no job;\n"
    "the printer is made when it does not exist yet):\n"
    "  --set-printer-data NAME=dword:NUMBER | NAME=binary:HEX | NAME=binary@FILE | NAME=string:TEXT\n"
    "                         sets a value (NUMBER decimal or 0x hexadecimal); may be repeated\n"
    "  --delete-printer-data NAME\n"
    "                         deletes a value; may be repeated\n"
    "  --list-printer-data    lists the values, one NAME=TYPE:VALUE a line\n"
    "Printers live under $ZNTR_STATE_DIR (default $XDG_DATA_HOME/zntr or ~/.local/share/zntr).\n"
    "\n"
    "exit status: 0 success, 1 the job failed, 2 usage error\n";

int UsageError(const std::string& why)
{
    std::fprintf(stderr, "zntr-print: %s\n(see zntr-print --help)\n", why.c_str());
    return 2;
}

template <class T>
bool ParseNumber(std::string_view text, T& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

// A file beside this command.
std::string Beside(const char* name)
{
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(name) : (self.parent_path() / name).string();
}

// The record inspector behind --dump-records (tools/record_inspector.cpp).
PipelineFilterEntry RecordInspector()
{
    return PipelineFilterEntry{"record-inspector", Beside("libZNTRRecordInspector.so"),
                               MakeGuid("3F6C2E71-8A0B-4D29-B5E4-7C1D9A2F6B30")};
}

// Opens the printer, making it when there is none of that name.
HANDLE OpenOrAddPrinter(std::u16string name)
{
    HANDLE h = nullptr;
    if (OpenPrinterW(name.data(), &h, nullptr))
        return h;
    PRINTER_INFO_1W info{0, nullptr, name.data(), nullptr};
    return AddPrinterW(nullptr, 1, reinterpret_cast<LPBYTE>(&info));
}

// Sets, deletes, then lists; 0 when all went well.
int PrinterDataCommands(const std::u16string& printer, const std::vector<PrinterDataValue>& sets,
                        const std::vector<std::string>& deletes, bool list)
{
    HANDLE h = OpenOrAddPrinter(printer);
    if (!h) {
        std::fprintf(stderr, "zntr-print: cannot open the printer %s (error %u)\n", WideToUtf8(printer).c_str(), GetLastError());
        return 1;
    }
    int status = 0;
    for (const PrinterDataValue& v : sets) {
        std::u16string name = v.name;
        const DWORD r = SetPrinterDataW(h, name.data(), v.type, const_cast<LPBYTE>(v.bytes.data()), static_cast<DWORD>(v.bytes.size()));
        if (r != ERROR_SUCCESS) {
            std::fprintf(stderr, "zntr-print: cannot set %s (error %u)\n", WideToUtf8(name).c_str(), r);
            status = 1;
        }
    }
    for (const std::string& d : deletes) {
        std::u16string name = Utf8ToWide(d);
        const DWORD r = DeletePrinterDataW(h, name.data());
        if (r != ERROR_SUCCESS) {
            std::fprintf(stderr, "zntr-print: cannot delete %s (%s)\n", d.c_str(),
                         r == ERROR_FILE_NOT_FOUND ? "no such value" : ("error " + std::to_string(r)).c_str());
            status = 1;
        }
    }
    for (DWORD i = 0; list; ++i) {
        DWORD nameBytes = 0;
        DWORD dataBytes = 0;
        DWORD type = 0;
        EnumPrinterDataW(h, i, nullptr, 0, &nameBytes, &type, nullptr, 0, &dataBytes);  // the sizes
        std::u16string name(nameBytes / sizeof(WCHAR), u'\0');
        PrinterDataValue v;
        v.bytes.resize(dataBytes);
        const DWORD r = EnumPrinterDataW(h, i, name.data(), nameBytes, &nameBytes, &type, v.bytes.data(), dataBytes, &dataBytes);
        if (r != ERROR_SUCCESS)
            break;
        v.name = name.substr(0, name.find(u'\0'));
        v.type = type;
        std::printf("%s\n", FormatPrinterDataValue(v).c_str());
    }
    ClosePrinter(h);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    JobOptions job;
    std::string ticketPath;
    std::string pipeline = Beside("zntr-pipeline.xml");
    std::string dumpRecords;
    std::vector<PrinterDataValue> setData;
    std::vector<std::string> deleteData;
    bool listData = false;
    bool progress = false;
    std::vector<std::string> files;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--progress") {
            progress = true;
        } else if (arg == "--ticket") {
            if (!value(ticketPath))
                return UsageError("--ticket needs a file");
        } else if (arg == "--printer") {
            if (!value(v))
                return UsageError("--printer needs a name");
            job.printerName = Utf8ToWide(v);
        } else if (arg == "--job-id") {
            if (!value(v) || !ParseNumber(v, job.jobId) || job.jobId < 0)
                return UsageError("--job-id needs a number from 0 to 2147483647");
        } else if (arg == "--set-printer-data") {
            std::string why;
            if (!value(v))
                return UsageError("--set-printer-data needs NAME=TYPE:VALUE");
            auto parsed = ParsePrinterDataAssignment(v, &why);
            if (!parsed)
                return UsageError(why);
            setData.push_back(std::move(*parsed));
        } else if (arg == "--delete-printer-data") {
            if (!value(v) || v.empty())
                return UsageError("--delete-printer-data needs a value name");
            deleteData.push_back(v);
        } else if (arg == "--list-printer-data") {
            listData = true;
        } else if (arg == "--dump-records") {
            if (!value(dumpRecords))
                return UsageError("--dump-records needs a file");
        } else if (arg == "--pipeline") {
            if (!value(pipeline))
                return UsageError("--pipeline needs a file");
        } else if (arg == "--max-inflated-size") {
            if (!value(v) || !ParseNumber(v, job.limits.maxInflatedBytes) || job.limits.maxInflatedBytes == 0)
                return UsageError("--max-inflated-size needs a positive number of bytes");
        } else if (arg.starts_with("-") && arg != "-") {
            return UsageError("unknown option " + std::string(arg));
        } else {
            files.emplace_back(arg);
        }
    }
    if (!setData.empty() || !deleteData.empty() || listData) {
        if (!files.empty())
            return UsageError("the printer data options run no job: give no INPUT or OUTPUT");
        return PrinterDataCommands(job.printerName, setData, deleteData, listData);
    }
    if (files.size() != 2)
        return UsageError("give one INPUT.xps and one OUTPUT.xps");
    job.input = files[0];
    job.output = files[1];
    std::error_code ec;
    if (std::filesystem::equivalent(job.input, job.output, ec) || job.input == job.output)
        return UsageError("OUTPUT must not be INPUT");

    if (!ticketPath.empty()) {
        std::ifstream in(ticketPath, std::ios::binary);
        if (!in)
            return UsageError("cannot read the ticket " + ticketPath);
        job.userTicket.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    try {
        job.filters = LoadPipelineConfig(pipeline);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zntr-print: %s\n", e.what());
        return 1;
    }
    if (!dumpRecords.empty()) {
        // Right before the last filter, so it sees the records as the last filter takes them.
        job.filters.insert(job.filters.empty() ? job.filters.end() : job.filters.end() - 1, RecordInspector());
        job.recordDumpPath = Utf8ToWide(dumpRecords);
    }
    const bool interactive = isatty(STDERR_FILENO);
    if (progress)
        job.progress = [interactive](const JobProgress& p) {
            // On a terminal the line is rewritten in place, else one line a change.
            std::fprintf(stderr, "%spages read: %zu of %zu, sheets written: %zu%s", interactive ? "\r" : "", p.pagesRead,
                         p.pagesTotal, p.sheetsWritten, interactive ? "" : "\n");
        };

    const JobResult result = RunPrintJob(job);
    if (progress && interactive)
        std::fputc('\n', stderr);
    if (FAILED(result.hr)) {
        std::fprintf(stderr, "zntr-print: %s: %s\n", job.input.c_str(), result.message.c_str());
        return 1;
    }
    for (const std::string& name : result.leftInBag)
        std::fprintf(stderr, "zntr-print: note: property %s was published but no filter took it out (is the last "
                             "filter of the pipeline missing?)\n", name.c_str());
    if (!progress)
        return 0;
    std::fprintf(stderr, "zntr-print: %zu pages read, %zu sheets written to %s\n", result.pagesRead, result.pagesWritten,
                 job.output.c_str());
    return 0;
}
