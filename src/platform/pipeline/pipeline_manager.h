// The pipeline manager: runs one print job through the filters its
// configuration lists, as the print spooler's filter pipeline does.
//
// Each filter library is loaded, its filter created through DllGetClassObject
// and initialised with a reader, a writer, the job's property bag and a
// control; every StartOperation runs on its own thread. The first filter
// reads the input package; filter i's writer feeds filter i+1's reader through
// a bounded hand-over queue; the last filter's writer is the PackageWriter.
//
// The job ends with the first failure that a filter reports (RequestShutdown
// or a failed StartOperation), or when every filter has finished. Once a
// filter has failed or the last one has finished, the filters still running
// are sent ShutdownOperation and the queues stop carrying parts (after a
// failure, sending and reading fail), so no job hangs. A filter that ends
// early never blocks the one before it: what that one still sends is dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/guiddef.h"
#include "platform/pipeline/opc_package.h"
#include "platform/winerror.h"

struct PipelineFilterEntry {
    std::string name;     // for messages
    std::string library;  // path of the shared library
    CLSID clsid{};
};

// Reads a pipeline configuration file:
//   <Filters>
//     <Filter name="..." library="libX.so" clsid="{...}"/>
//   </Filters>
// Library paths are relative to the file's folder. Throws PackageError.
std::vector<PipelineFilterEntry> LoadPipelineConfig(const std::string& path);

// Where a job is: the pages the first filter has taken from the input
// package, of the pages it holds, and the pages the last filter has handed to
// the output. With several pages put on one sheet, fewer sheets than pages.
struct JobProgress {
    std::size_t pagesRead = 0;
    std::size_t pagesTotal = 0;
    std::size_t sheetsWritten = 0;
};

struct JobOptions {
    std::string input;
    std::string output;
    std::vector<PipelineFilterEntry> filters;
    Bytes userTicket;                  // "PerUserPrintTicket"
    // "PrinterName"; the printer is opened (made, without printer data, when
    // there is none of that name) and its handle is "PrinterHandle".
    std::u16string printerName = u"zntr-printer";
    std::int32_t jobId = 1;            // "PrintJobId"
    std::u16string recordDumpPath;     // "ZNTR-RecordDumpPath", for the record inspector; none when empty
    PackageLimits limits;
    std::size_t queueCapacity = 8;  // parts in flight between two filters
    // Called each time a page is read or a sheet written, from the first or the
    // last filter's thread, never by two threads at once; each call differs from
    // the one before by one page read or one sheet written.
    std::function<void(const JobProgress&)> progress;
};

struct JobResult {
    HRESULT hr = S_OK;
    std::string message;  // one line; empty on success
    std::size_t pagesRead = 0;     // FixedPages the first filter took from the input
    std::size_t pagesWritten = 0;  // FixedPages (sheets) written to the output
    // Properties a filter added to the bag and no filter took out again.
    std::vector<std::string> leftInBag;
};

// Runs the job; never throws.
JobResult RunPrintJob(const JobOptions& options);
