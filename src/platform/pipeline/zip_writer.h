// A streaming ZIP writer: entries are written one after another as they come,
// deflated, with fixed timestamps so the same input gives the same bytes.
// Large entries and archives get ZIP64 records. Throws PackageError on I/O failure.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/pipeline/opc_package.h"

class ZipWriter {
public:
    enum class Create {
        Truncate,  // the file at path, made anew
        Unique,    // a new file from path, whose name ends in "XXXXXX" (replaced to make it unique)
    };
    explicit ZipWriter(std::string path, Create how = Create::Truncate);
    // The file being written.
    const std::string& Path() const noexcept { return path_; }
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds an entry named name (no leading '/'), deflated unless compress is false.
    void Add(const std::string& name, const std::uint8_t* data, std::size_t size, bool compress = true);
    // Adds an entry from bytes already in stored form (as Package::ReadStoredPart gives them).
    void AddStored(const std::string& name, const Package::StoredPart& stored);
    // Writes the central directory and closes the file.
    void Finish();
    // Closes the file without finishing it.
    void Abandon() noexcept;

private:
    struct Central {
        std::string name;
        std::uint32_t crc;
        std::uint64_t compressedSize;
        std::uint64_t size;
        std::uint64_t offset;
        std::uint16_t method;
    };

    void AddEntry(Central entry, const std::uint8_t* payload);
    void Write(const void* data, std::size_t size);
    void Write(const std::vector<std::uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }

    std::FILE* file_ = nullptr;
    std::string path_;
    std::uint64_t offset_ = 0;
    std::vector<Central> entries_;
};
