// The record inspector: a filter of the tools (not a deliverable) that
// zntr-print --dump-records puts right before the last filter. It reads the
// published records as the last filter does, deletes nothing, and writes
// them as JSON lines to the file named by the property "ZNTR-RecordDumpPath":
// first the job record, then one line for every page it passes on.
//
//   {"record":"job","published":true,"firstPagePortrait":1,...,"layoutDetail":[0,0,0,0]}
//   {"record":"page","page":1,"pageWidth":4960,...,"landscapeReversed":0}
//
// When no records were published the job line is {"record":"job","published":false}
// and the page lines carry no fields but "page".
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "filter/framework/cxd_exception.h"
#include "filter/framework/inter_filter_records.h"
#include "filter/framework/module_entry.h"
#include "platform/stringapiset.h"

namespace {

inline constexpr CLSID CLSID_RecordInspector = MakeGuid("3F6C2E71-8A0B-4D29-B5E4-7C1D9A2F6B30");

void Field(std::string& line, const char* name, long long value)
{
    line += ",\"";
    line += name;
    line += "\":";
    line += std::to_string(value);
}

std::string JobLine(const JobRecord* job)
{
    if (!job)
        return "{\"record\":\"job\",\"published\":false}";
    std::string line = "{\"record\":\"job\",\"published\":true";
    Field(line, "firstPagePortrait", job->firstPagePortrait);
    Field(line, "layoutMode", job->layoutMode);
    Field(line, "bindingEdge", job->bindingEdge);
    char number[32];
    const auto end = std::to_chars(number, number + sizeof number, job->gutterMillimetres).ptr;  // locale-free
    line += ",\"gutterMillimetres\":" + std::string(number, end);
    Field(line, "duplex", job->duplex);
    Field(line, "duplexLongEdge", job->duplexLongEdge);
    Field(line, "reserved", job->reserved);
    Field(line, "leftOffset", job->leftOffset);
    Field(line, "topOffset", job->topOffset);
    line += ",\"layoutDetail\":[";
    for (int i = 0; i < 4; ++i)
        line += (i ? "," : "") + std::to_string(job->layoutDetail[i]);
    return line + "]}";
}

std::string PageLine(std::size_t page, const PageRecord* record)
{
    std::string line = "{\"record\":\"page\",\"page\":" + std::to_string(page);
    if (record)
        for (std::size_t i = 0; i < PageRecord::kCount; ++i)
            Field(line, PageRecord::FieldName(i), (*record)[i]);
    return line + "}";
}

class RecordInspector final : public FilterBase {
public:
    RecordInspector() : FilterBase(false) {}

protected:
    HRESULT ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence) override
    {
        JobRecord* job = nullptr;
        PageRecordList* records = nullptr;
        if (SUCCEEDED(ReadPublishedRecords(PropertyBag(), &job, &records))) {
            job_ = job;
            records_ = PageRecordCursor(records);
        }
        return Writer()->SendFixedDocumentSequence(sequence.Get());
    }

    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override
    {
        const PageRecordList::Node* node = records_.Next();
        pages_.push_back(PageLine(pages_.size() + 1, node ? &node->record : nullptr));
        return Writer()->SendFixedPage(page.Get());
    }

    // The job record is complete once the pages have passed: written first, at the end.
    HRESULT FinishOperation(HRESULT hr) override
    {
        const HRESULT written = CallGuarded([this] { return Write(); });
        return FilterBase::FinishOperation(FAILED(hr) ? hr : written);
    }

private:
    HRESULT Write()
    {
        VARIANT path;
        VariantInit(&path);
        HRESULT hr = PropertyBag()->GetProperty(u"ZNTR-RecordDumpPath", &path);
        if (FAILED(hr) || path.vt != VT_BSTR) {
            VariantClear(&path);
            return FAILED(hr) ? hr : E_INVALIDARG;
        }
        const std::string file = WideToUtf8(std::u16string_view(path.bstrVal, SysStringLen(path.bstrVal)));
        VariantClear(&path);
        std::FILE* out = std::fopen(file.c_str(), "w");
        if (!out)
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        bool ok = std::fprintf(out, "%s\n", JobLine(job_).c_str()) > 0;
        for (const std::string& line : pages_)
            ok = ok && std::fprintf(out, "%s\n", line.c_str()) > 0;
        ok = std::fclose(out) == 0 && ok;
        return ok ? S_OK : STG_E_WRITEFAULT;
    }

    const JobRecord* job_ = nullptr;
    PageRecordCursor records_;
    std::vector<std::string> pages_;
};

} // namespace

const FilterModuleDefinition g_filterModule{CLSID_RecordInspector, nullptr,
                                            []() -> FilterBase* { return new (std::nothrow) RecordInspector; }};
