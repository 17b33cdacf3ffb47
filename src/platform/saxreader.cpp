// SAXXMLReader60 over expat, without namespace processing: names arrive as
// written, namespace declarations as attributes.
#include <expat.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/comobject.h"
#include "platform/msxml6.h"
#include "platform/objbase.h"
#include "platform/stringapiset.h"

namespace {

// How much of the stream is read and handed to expat at a time.
constexpr ULONG kPieceSize = 64 * 1024;

// The namespace URI and local name of every element event.
constexpr WCHAR kEmpty[] = u"";

// Appends UTF-8 (from expat, so valid) as UTF-16; a malformed byte would become U+FFFD.
void AppendUtf16(std::u16string& out, const char* text, std::size_t n)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const std::size_t start = out.size();
    out.resize(start + n);  // never more units than bytes
    char16_t* d = out.data() + start;
    for (std::size_t i = 0; i < n;) {
        const unsigned lead = s[i];
        if (lead < 0x80) {
            *d++ = static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
        }
        bool valid = length != 0 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k) {
            const unsigned next = s[i + k];
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        if (valid && length == 3)
            valid = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
        if (valid && length == 4)
            valid = cp >= 0x10000 && cp <= 0x10FFFF;
        if (!valid) {
            *d++ = u'\xFFFD';
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            *d++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *d++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *d++ = static_cast<char16_t>(cp);
        }
        i += length;
    }
    out.resize(static_cast<std::size_t>(d - out.data()));
}

// Text expat hands out is bounded by its int-sized buffers, so a length always fits.
int Length(const std::u16string& text) { return static_cast<int>(text.size()); }

int ClampToInt(XML_Size value) { return value > static_cast<XML_Size>(INT_MAX) ? INT_MAX : static_cast<int>(value); }

struct Position {
    int line = 1;
    int column = 1;
};

// Where expat is: during a call-back the start of the event, after an error the offending place.
Position CurrentPosition(XML_Parser parser)
{
    return Position{ClampToInt(XML_GetCurrentLineNumber(parser)), ClampToInt(XML_GetCurrentColumnNumber(parser) + 1)};
}

// Follows the parser while it runs; afterwards (or at an error) keeps one position.
class Locator final : public ComObject<ISAXLocator> {
public:
    HRESULT STDMETHODCALLTYPE getColumnNumber(int* pnColumn) override
    {
        if (!pnColumn)
            return E_POINTER;
        *pnColumn = Where().column;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getLineNumber(int* pnLine) override
    {
        if (!pnLine)
            return E_POINTER;
        *pnLine = Where().line;
        return S_OK;
    }

    void Follow(XML_Parser parser) noexcept { parser_ = parser; }
    // Keeps where the parser is now, unless a position is kept already.
    void Settle() noexcept
    {
        if (parser_)
            Freeze(CurrentPosition(parser_));
    }
    void Freeze(Position at) noexcept
    {
        parser_ = nullptr;
        frozen_ = at;
    }

private:
    Position Where() const { return parser_ ? CurrentPosition(parser_) : frozen_; }

    XML_Parser parser_ = nullptr;
    Position frozen_;
};

// The attributes of the start tag being reported. Names and values share one
// buffer that is kept from element to element; each is followed by a zero.
class Attributes final : public ComObject<ISAXAttributes> {
public:
    HRESULT STDMETHODCALLTYPE getLength(int* pnLength) override
    {
        if (!pnLength)
            return E_POINTER;
        *pnLength = static_cast<int>(entries_.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getQName(int nIndex, const WCHAR** ppwchQName, int* pcchQName) override
    {
        if (!ppwchQName || !pcchQName)
            return E_POINTER;
        if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= entries_.size())
            return E_INVALIDARG;
        const Entry& e = entries_[static_cast<std::size_t>(nIndex)];
        *ppwchQName = text_.data() + e.name;
        *pcchQName = e.nameLength;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getValue(int nIndex, const WCHAR** ppwchValue, int* pcchValue) override
    {
        if (!ppwchValue || !pcchValue)
            return E_POINTER;
        if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= entries_.size())
            return E_INVALIDARG;
        const Entry& e = entries_[static_cast<std::size_t>(nIndex)];
        *ppwchValue = text_.data() + e.value;
        *pcchValue = e.valueLength;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getIndexFromQName(const WCHAR* pwchQName, int cchQName, int* pnIndex) override
    {
        if (!pwchQName || !pnIndex)
            return E_POINTER;
        *pnIndex = -1;
        const int found = Find(pwchQName, cchQName);
        if (found < 0)
            return E_INVALIDARG;
        *pnIndex = found;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getValueFromQName(const WCHAR* pwchQName, int cchQName, const WCHAR** ppwchValue,
                                                int* pcchValue) override
    {
        if (!pwchQName || !ppwchValue || !pcchValue)
            return E_POINTER;
        const int found = Find(pwchQName, cchQName);
        if (found < 0)
            return E_INVALIDARG;
        return getValue(found, ppwchValue, pcchValue);
    }

    // expat's name/value pairs, ended by a null name. Throws std::bad_alloc.
    void Assign(const XML_Char** pairs)
    {
        Clear();
        for (; pairs[0]; pairs += 2) {
            Entry e{};
            e.name = text_.size();
            AppendUtf16(text_, pairs[0], std::strlen(pairs[0]));
            e.nameLength = static_cast<int>(text_.size() - e.name);
            text_.push_back(u'\0');
            e.value = text_.size();
            AppendUtf16(text_, pairs[1], std::strlen(pairs[1]));
            e.valueLength = static_cast<int>(text_.size() - e.value);
            text_.push_back(u'\0');
            entries_.push_back(e);
        }
    }

    void Clear() noexcept
    {
        entries_.clear();
        text_.clear();
    }

private:
    struct Entry {
        std::size_t name;
        int nameLength;
        std::size_t value;
        int valueLength;
    };

    int Find(const WCHAR* name, int length) const
    {
        if (length < 0)
            return -1;
        const std::u16string_view wanted(name, static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            if (std::u16string_view(text_.data() + e.name, static_cast<std::size_t>(e.nameLength)) == wanted)
                return static_cast<int>(i);
        }
        return -1;
    }

    std::vector<Entry> entries_;
    std::u16string text_;
};

// One run of the parser over one stream, with the handlers taken when it began.
class Session {
public:
    Session(ComPtr<ISAXContentHandler> content, ComPtr<ISAXErrorHandler> errors)
        : content_(std::move(content)), errors_(std::move(errors))
    {
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ~Session()
    {
        if (!parser_)
            return;
        if (locator_)
            locator_->Settle();  // a handler may keep the locator
        XML_ParserFree(parser_);
    }

    HRESULT Run(ISequentialStream* stream)
    {
        locator_ = MakeComObject<Locator>();
        attributes_ = MakeComObject<Attributes>();
        parser_ = XML_ParserCreate(nullptr);  // the encoding from the byte-order mark or the declaration
        if (!locator_ || !attributes_ || !parser_)
            return E_OUTOFMEMORY;
        XML_SetUserData(parser_, this);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        XML_SetStartDoctypeDeclHandler(parser_, OnDoctype);
        if (content_) {
            XML_SetElementHandler(parser_, OnStartElement, OnEndElement);
            XML_SetCharacterDataHandler(parser_, OnCharacters);
            XML_SetProcessingInstructionHandler(parser_, OnInstruction);
        }
        locator_->Follow(parser_);

        if (content_) {
            if (HRESULT hr = content_->putDocumentLocator(locator_.Get()); FAILED(hr))
                return hr;
            if (HRESULT hr = content_->startDocument(); FAILED(hr))
                return hr;
        }

        ULONGLONG total = 0;
        for (;;) {
            void* piece = XML_GetBuffer(parser_, static_cast<int>(kPieceSize));
            if (!piece)
                return XML_GetErrorCode(parser_) == XML_ERROR_NO_MEMORY ? E_OUTOFMEMORY : E_UNEXPECTED;
            ULONG got = 0;
            if (HRESULT hr = stream->Read(piece, kPieceSize, &got); FAILED(hr))
                return hr;
            if (got > kPieceSize)
                return STG_E_READFAULT;  // a stream that claims more than it was asked for
            total += got;
            const bool last = got == 0;
            const XML_Status status = XML_ParseBuffer(parser_, static_cast<int>(got), last ? XML_TRUE : XML_FALSE);
            if (refused_)
                return Fatal("DTDs are not accepted" + Where(refusedAt_), refusedAt_);
            if (stopped_)
                return failure_;
            if (status != XML_STATUS_OK)
                return NotWellFormed(total == 0);
            if (last)
                break;
        }
        if (content_) {
            if (HRESULT hr = content_->endDocument(); FAILED(hr))
                return hr;
        }
        return S_OK;
    }

private:
    HRESULT NotWellFormed(bool empty)
    {
        const XML_Error code = XML_GetErrorCode(parser_);
        if (code == XML_ERROR_NO_MEMORY)
            return E_OUTOFMEMORY;
        const Position at = CurrentPosition(parser_);
        if (empty)
            return Fatal("the document is empty", at);
        const XML_LChar* what = XML_ErrorString(code);
        return Fatal((what ? std::string(what) : "error " + std::to_string(code)) + Where(at), at);
    }

    static std::string Where(Position at)
    {
        return " (line " + std::to_string(at.line) + ", column " + std::to_string(at.column) + ")";
    }

    // Tells the error handler (whose answer changes nothing) and answers E_FAIL.
    HRESULT Fatal(const std::string& message, Position at)
    {
        locator_->Freeze(at);
        if (errors_) {
            const std::u16string wide = Utf8ToWide(message);
            errors_->fatalError(locator_.Get(), wide.c_str(), E_FAIL);
        }
        return E_FAIL;
    }

    // Stops expat for good; the first reason is kept.
    void Stop(HRESULT failure) noexcept
    {
        if (stopped_)
            return;
        stopped_ = true;
        failure_ = failure;
        XML_StopParser(parser_, XML_FALSE);
    }

    // Runs a call-back unless the parse was stopped (expat may still deliver a
    // few), keeping exceptions out of expat.
    template <class F>
    static void Guard(void* data, F&& body) noexcept
    {
        auto& self = *static_cast<Session*>(data);
        if (self.stopped_)
            return;
        try {
            const HRESULT hr = body(self);
            if (FAILED(hr))
                self.Stop(hr);
        } catch (const std::bad_alloc&) {
            self.Stop(E_OUTOFMEMORY);
        } catch (...) {
            self.Stop(E_FAIL);
        }
    }

    // Called once expat has read the declaration's name and identifiers: that
    // is where the refusal is placed.
    static void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        auto& self = *static_cast<Session*>(data);
        if (self.stopped_)
            return;
        self.refusedAt_ = CurrentPosition(self.parser_);
        self.refused_ = true;
        self.Stop(E_FAIL);
    }

    static void XMLCALL OnStartElement(void* data, const XML_Char* name, const XML_Char** pairs)
    {
        Guard(data, [&](Session& self) {
            self.name_.clear();
            AppendUtf16(self.name_, name, std::strlen(name));
            self.attributes_->Assign(pairs);
            const HRESULT hr = self.content_->startElement(kEmpty, 0, kEmpty, 0, self.name_.data(), Length(self.name_),
                                                           self.attributes_.Get());
            self.attributes_->Clear();
            return hr;
        });
    }

    static void XMLCALL OnEndElement(void* data, const XML_Char* name)
    {
        Guard(data, [&](Session& self) {
            self.name_.clear();
            AppendUtf16(self.name_, name, std::strlen(name));
            return self.content_->endElement(kEmpty, 0, kEmpty, 0, self.name_.data(), Length(self.name_));
        });
    }

    static void XMLCALL OnCharacters(void* data, const XML_Char* text, int length)
    {
        Guard(data, [&](Session& self) {
            self.text_.clear();
            AppendUtf16(self.text_, text, static_cast<std::size_t>(length));
            return self.content_->characters(self.text_.data(), Length(self.text_));
        });
    }

    static void XMLCALL OnInstruction(void* data, const XML_Char* target, const XML_Char* body)
    {
        Guard(data, [&](Session& self) {
            self.name_.clear();
            AppendUtf16(self.name_, target, std::strlen(target));
            self.text_.clear();
            AppendUtf16(self.text_, body, std::strlen(body));
            return self.content_->processingInstruction(self.name_.data(), Length(self.name_), self.text_.data(),
                                                        Length(self.text_));
        });
    }

    ComPtr<ISAXContentHandler> content_;
    ComPtr<ISAXErrorHandler> errors_;
    ComPtr<Locator> locator_;
    ComPtr<Attributes> attributes_;
    XML_Parser parser_ = nullptr;
    bool stopped_ = false;
    HRESULT failure_ = S_OK;
    bool refused_ = false;  // a DTD
    Position refusedAt_;
    // Kept from event to event.
    std::u16string name_;
    std::u16string text_;
};

class Reader final : public ComObject<ISAXXMLReader> {
public:
    HRESULT STDMETHODCALLTYPE putContentHandler(ISAXContentHandler* pHandler) override
    {
        ComPtr<ISAXContentHandler> previous(pHandler);  // released outside the lock
        std::lock_guard guard(lock_);
        std::swap(content_, previous);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getContentHandler(ISAXContentHandler** ppHandler) override
    {
        if (!ppHandler)
            return E_POINTER;
        std::lock_guard guard(lock_);
        content_.CopyTo(ppHandler);
        return content_ ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE putErrorHandler(ISAXErrorHandler* pHandler) override
    {
        ComPtr<ISAXErrorHandler> previous(pHandler);
        std::lock_guard guard(lock_);
        std::swap(errors_, previous);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE parse(VARIANT varInput) override
    {
        if (varInput.vt != VT_UNKNOWN || !varInput.punkVal)
            return E_INVALIDARG;
        ComPtr<ISequentialStream> stream;
        if (FAILED(varInput.punkVal->QueryInterface(stream.ReleaseAndGetAddressOf())) || !stream)
            return E_INVALIDARG;
        if (busy_.exchange(true))
            return E_UNEXPECTED;
        const ComPtr<Reader> self(this);  // a handler may release the last reference
        struct Idle {
            std::atomic<bool>& busy;
            ~Idle() { busy = false; }
        } idle{busy_};
        ComPtr<ISAXContentHandler> content;
        ComPtr<ISAXErrorHandler> errors;
        {
            std::lock_guard guard(lock_);
            content = content_;
            errors = errors_;
        }
        try {
            Session session(std::move(content), std::move(errors));
            return session.Run(stream.Get());
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

private:
    std::mutex lock_;
    ComPtr<ISAXContentHandler> content_;
    ComPtr<ISAXErrorHandler> errors_;
    std::atomic<bool> busy_{false};
};

// Part of the platform like the DOM: the class is there as soon as the library is loaded.
__attribute__((constructor)) void RegisterSaxReaderClass()
{
    ComPtr<SimpleClassFactory<Reader>> factory = MakeComObject<SimpleClassFactory<Reader>>();
    DWORD cookie = 0;
    if (factory)
        CoRegisterClassObject(CLSID_SAXXMLReader60, factory->AsUnknown(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
}

} // namespace
