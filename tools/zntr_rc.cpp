// zntr-rc: the resource compiler. Reads a resource source and writes the
// resource library that LoadLibraryW loads as a module of resources.
//
// Usage: zntr-rc SOURCE OUTPUT
//
// The source is UTF-8 text (a leading byte-order mark is allowed), one
// statement a line; blank lines and everything from a ";" outside quotes to
// the end of the line are ignored. Keywords are case-insensitive; numbers are
// decimal or 0x hexadecimal.
//
//   LANGUAGE lang         the language id (0-65535) of the statements that
//                         follow; 1033 until the first LANGUAGE
//   STRING id "text"      string id 0-65535; escapes \" \\ \n \t and \xHH
//                         (the character U+00HH); at most 65535 UTF-16 units
//   BITMAP id "file"      resource id 1-65535 of type RT_BITMAP (2): the
//   RCDATA id "file"      file's bytes as they are; RCDATA is type RT_RCDATA
//                         (10). The file is relative to the source's folder.
//
// An id may appear once per type and language. Faults are reported as
// "SOURCE:LINE: what" on the standard error, every one of them, and the
// output is then not written (exit status 1; 2 for wrong arguments).
//
// The library (all numbers little-endian):
//
//   offset 0   8 bytes  magic "ZNTRRES1"
//   offset 8   u32      number of directory entries n
//   offset 12  n entries of 20 bytes:
//              u32 type, u32 id, u16 language, u16 0, u32 offset, u32 size
//   then the data, each entry's at an offset that is a multiple of 4 (the
//   gaps are zero bytes), in directory order.
//
// The directory is sorted by type, then id, then language, so the same
// source always gives the same bytes. Strings are stored as the platform's
// string tables: string id N is string N % 16 of the RT_STRING (6) resource
// with id N / 16 + 1 in its language, a block of 16 strings in order, each a
// u16 length and that many UTF-16LE code units without a terminator (length
// 0 for an id the source does not give).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "platform/stringapiset.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kBitmap = 2;
constexpr std::uint32_t kString = 6;
constexpr std::uint32_t kRcData = 10;
constexpr std::uint32_t kDefaultLanguage = 1033;

using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;  // type, id, language

struct StringBlock {
    std::optional<std::u16string> strings[16];
};

class Compiler {
public:
    explicit Compiler(std::string sourceName) : source_(std::move(sourceName)) {}

    void Line(std::string_view text, unsigned number);
    bool Failed() const { return failed_; }
    std::string Library() const;

private:
    void Fault(const std::string& what)
    {
        std::cerr << source_ << ':' << line_ << ": " << what << '\n';
        failed_ = true;
    }
    void SkipBlanks();
    bool AtEnd() const { return pos_ >= text_.size() || text_[pos_] == ';'; }
    std::string Word();
    std::optional<std::uint32_t> Number(const char* what, std::uint32_t least, std::uint32_t most);
    std::optional<std::u16string> Quoted();
    bool EndOfStatement();
    std::optional<std::string> ReadFile(const std::u16string& name);
    void Define(std::uint32_t type, std::uint32_t id, const char* kind, std::string data);

    std::string source_;
    std::string_view text_;
    std::size_t pos_ = 0;
    unsigned line_ = 0;
    bool failed_ = false;
    std::uint32_t language_ = kDefaultLanguage;
    std::map<Key, std::string> resources_;  // files' data
    std::map<Key, unsigned> definedAt_;     // (type, id, language) -> line, strings by string id
    std::map<std::pair<std::uint32_t, std::uint32_t>, StringBlock> blocks_;  // (language, block id)
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

void Compiler::SkipBlanks()
{
    while (pos_ < text_.size() && IsBlank(text_[pos_]))
        ++pos_;
}

std::string Compiler::Word()
{
    SkipBlanks();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsBlank(text_[pos_]) && text_[pos_] != ';' && text_[pos_] != '"')
        ++pos_;
    return std::string(text_.substr(start, pos_ - start));
}

std::optional<std::uint32_t> Compiler::Number(const char* what, std::uint32_t least, std::uint32_t most)
{
    const std::string word = Word();
    if (word.empty()) {
        Fault(std::string("missing ") + what);
        return std::nullopt;
    }
    std::string_view digits(word);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else {
            Fault("bad number '" + word + "' for " + what);
            return std::nullopt;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > most)
            break;
    }
    if (value < least || value > most) {
        Fault(std::string(what) + " " + word + " is out of range (" + std::to_string(least) + " to " +
              std::to_string(most) + ")");
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::u16string> Compiler::Quoted()
{
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != '"') {
        Fault("expected a quoted string");
        return std::nullopt;
    }
    ++pos_;
    std::u16string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
        if (text_[pos_] != '\\') {
            // A run of plain text up to the next escape or the closing quote;
            // it must be well-formed UTF-8, so it converts back to itself.
            const std::size_t end = std::min(text_.find_first_of("\\\"", pos_), text_.size());
            const std::string_view run = text_.substr(pos_, end - pos_);
            const std::u16string wide = Utf8ToWide(run);
            if (WideToUtf8(wide) != run) {
                Fault("the string is not valid UTF-8");
                return std::nullopt;
            }
            out += wide;
            pos_ = end;
            continue;
        }
        const char escape = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
        pos_ += 2;
        switch (escape) {
        case '"':
            out += u'"';
            break;
        case '\\':
            out += u'\\';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'x': {
            const int high = pos_ < text_.size() ? HexDigit(text_[pos_]) : -1;
            const int low = pos_ + 1 < text_.size() ? HexDigit(text_[pos_ + 1]) : -1;
            if (high < 0 || low < 0) {
                Fault("\\x needs two hexadecimal digits");
                return std::nullopt;
            }
            out += static_cast<char16_t>(high * 16 + low);
            pos_ += 2;
            break;
        }
        case '\0':
            Fault("unterminated string");
            return std::nullopt;
        default:
            Fault(std::string("unknown escape \\") + escape);
            return std::nullopt;
        }
    }
    if (pos_ >= text_.size()) {
        Fault("unterminated string");
        return std::nullopt;
    }
    ++pos_;
    if (out.size() > 0xFFFF) {
        Fault("the string is longer than 65535 UTF-16 units");
        return std::nullopt;
    }
    return out;
}

bool Compiler::EndOfStatement()
{
    SkipBlanks();
    if (AtEnd())
        return true;
    Fault("unexpected text after the statement: '" + std::string(text_.substr(pos_)) + "'");
    return false;
}

std::optional<std::string> Compiler::ReadFile(const std::u16string& name)
{
    const std::string utf8 = WideToUtf8(name);
    const fs::path path = fs::path(source_).parent_path() / fs::path(utf8);
    std::ifstream in(path, std::ios::binary);
    std::error_code ec;
    if (!in || fs::is_directory(path, ec)) {
        Fault("cannot read '" + utf8 + "' (" + path.string() + ")");
        return std::nullopt;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        Fault("cannot read '" + utf8 + "' (" + path.string() + ")");
        return std::nullopt;
    }
    return data;
}

void Compiler::Define(std::uint32_t type, std::uint32_t id, const char* kind, std::string data)
{
    const Key key{type, id, language_};
    if (const auto it = definedAt_.find(key); it != definedAt_.end()) {
        Fault(std::string(kind) + " " + std::to_string(id) + " of language " + std::to_string(language_) +
              " is already defined (line " + std::to_string(it->second) + ")");
        return;
    }
    definedAt_.emplace(key, line_);
    resources_.emplace(key, std::move(data));
}

void Compiler::Line(std::string_view text, unsigned number)
{
    text_ = text;
    pos_ = 0;
    line_ = number;
    SkipBlanks();
    if (AtEnd())
        return;
    std::string keyword = Word();
    for (char& c : keyword)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (keyword == "LANGUAGE") {
        const auto language = Number("language", 0, 0xFFFF);
        if (language && EndOfStatement())
            language_ = *language;
    } else if (keyword == "STRING") {
        const auto id = Number("string id", 0, 0xFFFF);
        if (!id)
            return;
        const auto value = Quoted();
        if (!value || !EndOfStatement())
            return;
        // Strings are kept by their own id for the duplicate check (type 0
        // is no resource type), and stored by blocks.
        const Key key{0, *id, language_};
        if (const auto it = definedAt_.find(key); it != definedAt_.end()) {
            Fault("string " + std::to_string(*id) + " of language " + std::to_string(language_) +
                  " is already defined (line " + std::to_string(it->second) + ")");
            return;
        }
        definedAt_.emplace(key, line_);
        blocks_[{language_, *id / 16 + 1}].strings[*id % 16] = *value;
    } else if (keyword == "BITMAP" || keyword == "RCDATA") {
        const std::uint32_t type = keyword == "BITMAP" ? kBitmap : kRcData;
        const auto id = Number("resource id", 1, 0xFFFF);
        if (!id)
            return;
        const auto name = Quoted();
        if (!name || !EndOfStatement())
            return;
        if (auto data = ReadFile(*name))
            Define(type, *id, keyword == "BITMAP" ? "bitmap" : "rcdata", std::move(*data));
    } else if (keyword.empty()) {
        Fault("expected a statement");
    } else {
        Fault("unknown statement '" + keyword + "'");
    }
}

void PutU16(std::string& out, std::uint32_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void PutU32(std::string& out, std::uint32_t value)
{
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

std::string Compiler::Library() const
{
    std::map<Key, std::string> all = resources_;
    for (const auto& [where, block] : blocks_) {
        std::string data;
        for (const auto& text : block.strings) {
            const std::u16string s = text.value_or(std::u16string());
            PutU16(data, static_cast<std::uint32_t>(s.size()));
            for (const char16_t c : s)
                PutU16(data, c);
        }
        all.emplace(Key{kString, where.second, where.first}, std::move(data));
    }
    std::string directory("ZNTRRES1", 8);
    PutU32(directory, static_cast<std::uint32_t>(all.size()));
    std::uint64_t offset = 12 + 20 * static_cast<std::uint64_t>(all.size());
    std::string data;
    for (const auto& [key, bytes] : all) {
        const auto [type, id, language] = key;
        offset = (offset + 3) / 4 * 4;
        PutU32(directory, type);
        PutU32(directory, id);
        PutU16(directory, language);
        PutU16(directory, 0);
        PutU32(directory, static_cast<std::uint32_t>(offset));
        PutU32(directory, static_cast<std::uint32_t>(bytes.size()));
        offset += bytes.size();
    }
    for (const auto& [key, bytes] : all) {
        while ((directory.size() + data.size()) % 4 != 0)
            data += '\0';
        data += bytes;
    }
    return directory + data;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: zntr-rc SOURCE OUTPUT\n";
        return 2;
    }
    const std::string sourceName = argv[1];
    const std::string outputName = argv[2];
    std::ifstream in(sourceName, std::ios::binary);
    if (!in) {
        std::cerr << sourceName << ": cannot be read\n";
        return 1;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);

    Compiler compiler(sourceName);
    std::size_t start = 0;
    for (unsigned number = 1; start <= text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        compiler.Line(std::string_view(text).substr(start, end - start), number);
        start = end + 1;
    }
    if (compiler.Failed())
        return 1;

    const std::string library = compiler.Library();
    if (library.size() > 0xFFFFFFFFu) {
        std::cerr << sourceName << ": the resources come to more than 4 GiB\n";
        return 1;
    }
    // Written beside the output and renamed, so that a build never sees half
    // a library.
    const std::string partial = outputName + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(library.data(), static_cast<std::streamsize>(library.size()));
        out.close();
        if (!out) {
            std::cerr << outputName << ": cannot be written\n";
            std::remove(partial.c_str());
            return 1;
        }
    }
    std::error_code ec;
    fs::rename(partial, outputName, ec);
    if (ec) {
        std::cerr << outputName << ": cannot be written: " << ec.message() << '\n';
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}
