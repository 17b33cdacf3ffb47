// An OPC (ZIP) package opened for reading: its part names, content types and
// relationships, with the checks that keep a hostile package from escaping
// its root, hiding duplicate names or inflating without bound.
//
// Part names are absolute ("/Documents/1/Pages/1.fpage") and compared without
// regard to ASCII case or percent-encoding. Interleaved parts ("name/[0].piece"
// ... "name/[n].last.piece") read as one part. A Package may be read from
// several threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Why a package cannot be used; the message is one line for the user.
class PackageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Relationship {
    std::string id;
    std::string type;
    std::string target;  // an absolute part name, or the raw URI when external
    bool external = false;
};

struct PackageLimits {
    // The most bytes all parts together may inflate to.
    std::uint64_t maxInflatedBytes = 2ull << 30;
};

class Package {
public:
    // Opens and checks a package; throws PackageError.
    static std::shared_ptr<Package> Open(const std::string& path, const PackageLimits& limits = {});
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    bool HasPart(std::string_view name) const;
    // The part name as the package spells it.
    std::string PartName(std::string_view name) const;
    std::vector<std::string> PartNames() const;
    // From an Override, else from the extension's Default, else inferred from
    // the extension; empty when unknown.
    std::string ContentType(std::string_view name) const;
    // The part's bytes; throws PackageError.
    Bytes ReadPart(std::string_view name) const;

    // A part's bytes as stored: still compressed, with what a ZIP writer needs
    // to store them again unchanged.
    struct StoredPart {
        Bytes data;
        std::uint16_t method;  // 0 stored, 8 deflated
        std::uint32_t crc;
        std::uint64_t size;    // inflated
    };
    // The stored form of a part kept in one ZIP entry (stored or deflated),
    // after checking that it inflates to its size and checksum; nullopt for
    // interleaved parts and other methods. Throws PackageError.
    std::optional<StoredPart> ReadStoredPart(std::string_view name) const;
    // The relationships of a part ("" for the package itself); none when it has no rels part.
    std::vector<Relationship> Relationships(std::string_view sourceName) const;
    // The rels part name of a part ("/_rels/.rels" for the package).
    static std::string RelationshipsPartName(std::string_view sourceName);

private:
    struct Entry {
        std::string name;                   // as spelt in the package, with a leading '/'
        std::vector<std::uint64_t> pieces;  // ZIP entry indices, in order
        std::uint64_t size = 0;
    };

    Package() = default;
    void LoadEntries(const PackageLimits& limits);
    void LoadContentTypes();
    const Entry* Find(std::string_view name) const;

    struct ZipHandle;
    std::unique_ptr<ZipHandle> zip_;
    std::string path_;
    std::map<std::string, Entry> entries_;  // by key
    std::map<std::string, std::string> overrides_;  // by key
    std::map<std::string, std::string> defaults_;   // by lower-case extension
    mutable std::mutex lock_;  // the ZIP handle is not thread-safe
};

// The comparison key of a part name: percent-decoded, ASCII lower case.
std::string PartKey(std::string_view name);
// Resolves a relationship or markup URI against the part it appears in;
// throws PackageError when it leaves the package root.
std::string ResolvePartUri(std::string_view sourcePartName, std::string_view uri);
// The content type inferred from a part name's extension alone; empty when unknown.
std::string ContentTypeFromExtension(std::string_view name);
// The extension of a part name's last segment, in lower case; empty when none.
std::string PartExtension(std::string_view name);
