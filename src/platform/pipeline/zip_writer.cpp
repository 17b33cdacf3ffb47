#include "platform/pipeline/zip_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t k32 = 0xFFFFFFFFu;
constexpr std::uint16_t kDosDate1980 = (0 << 9) | (1 << 5) | 1;  // 1980-01-01

struct Out {
    std::vector<std::uint8_t> bytes;
    void U16(std::uint16_t v)
    {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v)
    {
        U16(static_cast<std::uint16_t>(v));
        U16(static_cast<std::uint16_t>(v >> 16));
    }
    void U64(std::uint64_t v)
    {
        U32(static_cast<std::uint32_t>(v));
        U32(static_cast<std::uint32_t>(v >> 32));
    }
    void Text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
};

bool NonAscii(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return true;
    return false;
}

std::vector<std::uint8_t> Deflate(const std::uint8_t* data, std::size_t size)
{
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw PackageError("cannot start compression");
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(std::min<std::size_t>(size, std::numeric_limits<uLong>::max()))) + 64);
    z.next_in = const_cast<Bytef*>(data);
    std::size_t produced = 0;
    std::size_t consumed = 0;
    int rc;
    do {
        const std::size_t chunkIn = std::min<std::size_t>(size - consumed, 1u << 30);
        z.next_in = const_cast<Bytef*>(data + consumed);
        z.avail_in = static_cast<uInt>(chunkIn);
        const bool last = consumed + chunkIn == size;
        do {
            if (out.size() - produced < 65536)
                out.resize(out.size() * 2 + 65536);
            z.next_out = out.data() + produced;
            z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - produced, 1u << 30));
            const uInt before = z.avail_out;
            rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            produced += before - z.avail_out;
        } while (z.avail_out == 0 || (last && rc == Z_OK));
        consumed += chunkIn;
    } while (consumed < size);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw PackageError("compression failed");
    out.resize(produced);
    return out;
}

} // namespace

ZipWriter::ZipWriter(std::string path, Create how) : path_(std::move(path))
{
    const int fd = how == Create::Unique ? mkstemp(path_.data()) : open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        throw PackageError("cannot create a file beside " + path_ + ": " + std::strerror(errno));
    file_ = fdopen(fd, "wb");
    if (!file_) {
        close(fd);
        std::remove(path_.c_str());
        throw PackageError("cannot write " + path_ + ": " + std::strerror(errno));
    }
}

ZipWriter::~ZipWriter() { Abandon(); }

void ZipWriter::Abandon() noexcept
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

void ZipWriter::Write(const void* data, std::size_t size)
{
    if (!file_)
        throw PackageError("the output is closed");
    if (size && std::fwrite(data, 1, size, file_) != size)
        throw PackageError("cannot write " + path_ + ": " + std::strerror(errno));
    offset_ += size;
}

void ZipWriter::Add(const std::string& name, const std::uint8_t* data, std::size_t size, bool compress)
{
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min<std::size_t>(size - done, 1u << 30);
        crc = crc32(crc, data + done, static_cast<uInt>(n));
        done += n;
    }
    std::vector<std::uint8_t> deflated;
    const std::uint8_t* payload = data;
    std::size_t payloadSize = size;
    std::uint16_t method = 0;
    if (compress && size > 0) {
        deflated = Deflate(data, size);
        if (deflated.size() < size) {
            payload = deflated.data();
            payloadSize = deflated.size();
            method = 8;
        }
    }

    AddEntry(Central{name, static_cast<std::uint32_t>(crc), payloadSize, size, 0, method}, payload);
}

void ZipWriter::AddStored(const std::string& name, const Package::StoredPart& stored)
{
    AddEntry(Central{name, stored.crc, stored.data.size(), stored.size, 0, stored.method}, stored.data.data());
}

void ZipWriter::AddEntry(Central c, const std::uint8_t* payload)
{
    if (c.name.empty() || c.name.size() > 0xFFFF)
        throw PackageError("a part name of " + std::to_string(c.name.size()) + " bytes cannot be stored");
    c.offset = offset_;
    const std::uint64_t size = c.size;
    const std::uint64_t payloadSize = c.compressedSize;
    const std::string& name = c.name;
    const std::uint16_t method = c.method;
    const bool zip64 = size >= k32 || payloadSize >= k32;
    Out h;
    h.U32(0x04034b50);
    h.U16(zip64 ? 45 : 20);
    h.U16(NonAscii(name) ? 0x0800 : 0);
    h.U16(method);
    h.U16(0);
    h.U16(kDosDate1980);
    h.U32(c.crc);
    h.U32(zip64 ? k32 : static_cast<std::uint32_t>(payloadSize));
    h.U32(zip64 ? k32 : static_cast<std::uint32_t>(size));
    h.U16(static_cast<std::uint16_t>(name.size()));
    h.U16(zip64 ? 20 : 0);
    h.Text(name);
    if (zip64) {
        h.U16(0x0001);
        h.U16(16);
        h.U64(size);
        h.U64(payloadSize);
    }
    Write(h.bytes);
    Write(payload, payloadSize);
    entries_.push_back(std::move(c));
}

void ZipWriter::Finish()
{
    const std::uint64_t directoryStart = offset_;
    for (const Central& c : entries_) {
        const bool bigSizes = c.size >= k32 || c.compressedSize >= k32;
        const bool bigOffset = c.offset >= k32;
        Out extra;
        if (bigSizes || bigOffset) {
            extra.U16(0x0001);
            extra.U16(static_cast<std::uint16_t>((bigSizes ? 16 : 0) + (bigOffset ? 8 : 0)));
            if (bigSizes) {
                extra.U64(c.size);
                extra.U64(c.compressedSize);
            }
            if (bigOffset)
                extra.U64(c.offset);
        }
        Out h;
        h.U32(0x02014b50);
        h.U16(extra.bytes.empty() ? 20 : 45);
        h.U16(extra.bytes.empty() ? 20 : 45);
        h.U16(NonAscii(c.name) ? 0x0800 : 0);
        h.U16(c.method);
        h.U16(0);
        h.U16(kDosDate1980);
        h.U32(c.crc);
        h.U32(bigSizes ? k32 : static_cast<std::uint32_t>(c.compressedSize));
        h.U32(bigSizes ? k32 : static_cast<std::uint32_t>(c.size));
        h.U16(static_cast<std::uint16_t>(c.name.size()));
        h.U16(static_cast<std::uint16_t>(extra.bytes.size()));
        h.U16(0);  // comment
        h.U16(0);  // disk
        h.U16(0);  // internal attributes
        h.U32(0);  // external attributes
        h.U32(bigOffset ? k32 : static_cast<std::uint32_t>(c.offset));
        h.Text(c.name);
        h.bytes.insert(h.bytes.end(), extra.bytes.begin(), extra.bytes.end());
        Write(h.bytes);
    }
    const std::uint64_t directorySize = offset_ - directoryStart;
    const bool zip64 = entries_.size() >= 0xFFFF || directoryStart >= k32 || directorySize >= k32;
    Out end;
    if (zip64) {
        const std::uint64_t recordStart = offset_;
        end.U32(0x06064b50);
        end.U64(44);
        end.U16(45);
        end.U16(45);
        end.U32(0);
        end.U32(0);
        end.U64(entries_.size());
        end.U64(entries_.size());
        end.U64(directorySize);
        end.U64(directoryStart);
        end.U32(0x07064b50);
        end.U32(0);
        end.U64(recordStart);
        end.U32(1);
    }
    const auto count16 = static_cast<std::uint16_t>(std::min<std::size_t>(entries_.size(), 0xFFFF));
    end.U32(0x06054b50);
    end.U16(0);
    end.U16(0);
    end.U16(count16);
    end.U16(count16);
    end.U32(zip64 ? k32 : static_cast<std::uint32_t>(directorySize));
    end.U32(zip64 ? k32 : static_cast<std::uint32_t>(directoryStart));
    end.U16(0);
    Write(end.bytes);
    if (std::fflush(file_) != 0 || std::fclose(file_) != 0) {
        file_ = nullptr;
        throw PackageError("cannot write " + path_ + ": " + std::strerror(errno));
    }
    file_ = nullptr;
}
