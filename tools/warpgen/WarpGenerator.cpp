#include "tools/warpgen/WarpGenerator.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <zlib.h>

namespace warpgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSubpixels = 16;
constexpr int kFractionMax = 15;
constexpr double kSlopeScale = 65536;
constexpr int kTenthsPerDegree = 10;

struct Rotation {
    double cx, cy, c, s;
    Rotation(int width, int height, double degrees)
        : cx((width - 1) / 2.0), cy((height - 1) / 2.0), c(std::cos(degrees * kPi / 180)),
          s(std::sin(degrees * kPi / 180)) {}
    // Source position of output pixel (x, y): the inverse rotation about the centre.
    void source(int x, int y, double& sx, double& sy) const {
        double dx = x - cx, dy = y - cy;
        sx = cx + c * dx + s * dy;
        sy = cy - s * dx + c * dy;
    }
};

int fraction(double v) {
    int f = static_cast<int>(std::lround((v - std::floor(v)) * kSubpixels));
    return f > kFractionMax ? kFractionMax : f;
}

bool writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

// Little-endian fields of the zip headers.
void put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

bool deflateRaw(const std::string& in, std::string& out) {
    z_stream z{};
    constexpr int kRawWindowBits = -15;
    constexpr int kMemLevel = 8;
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        return false;
    }
    out.resize(deflateBound(&z, in.size()));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

} // namespace

std::string rotatedName(const std::string& base, int tenths) {
    if (tenths == 0) {
        return base;
    }
    char angle[16];
    snprintf(angle, sizeof angle, "%1.1f", tenths / double(kTenthsPerDegree));
    size_t dot = base.find('.');
    return dot == std::string::npos ? base + angle : base.substr(0, dot) + angle + base.substr(dot);
}

std::string lineTable(int width, int height, double degrees) {
    Rotation r(width, height, degrees);
    std::string out;
    char record[64];
    for (int y = 0; y < height; ++y) {
        double sx, sy;
        r.source(0, y, sx, sy);
        snprintf(record, sizeof record, "%d,%d,%d,%d\n", y, static_cast<int>(std::floor(sy)),
                 static_cast<int>(std::floor(sx)), static_cast<int>(std::lround(-r.s * kSlopeScale)));
        out += record;
    }
    return out;
}

std::string pixelTable(int width, int height, double degrees) {
    Rotation r(width, height, degrees);
    std::string out;
    out.reserve(size_t(width) * height * 5);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double sx, sy;
            r.source(x, y, sx, sy);
            out += std::to_string(fraction(sx));
            out += ',';
            out += std::to_string(fraction(sy));
            out += x + 1 < width ? ',' : '\n';
        }
    }
    return out;
}

std::string zipArchive(const std::vector<ZipMember>& members) {
    constexpr uint32_t kLocalSignature = 0x04034b50;
    constexpr uint32_t kCentralSignature = 0x02014b50;
    constexpr uint32_t kEndSignature = 0x06054b50;
    constexpr uint32_t kVersion = 20;
    constexpr uint32_t kDeflated = 8;
    constexpr uint32_t kDosDate = (2024 - 1980) << 9 | 1 << 5 | 1; // 1 January 2024
    std::string archive, central;
    for (const auto& m : members) {
        std::string packed;
        if (!deflateRaw(m.content, packed)) {
            return {};
        }
        uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(m.content.data()), static_cast<uInt>(m.content.size())));
        uint32_t offset = static_cast<uint32_t>(archive.size());
        auto header = [&](std::string& s, bool centralEntry) {
            put32(s, centralEntry ? kCentralSignature : kLocalSignature);
            if (centralEntry) {
                put16(s, kVersion);
            }
            put16(s, kVersion);
            put16(s, 0); // flags
            put16(s, kDeflated);
            put16(s, 0); // time
            put16(s, kDosDate);
            put32(s, crc);
            put32(s, static_cast<uint32_t>(packed.size()));
            put32(s, static_cast<uint32_t>(m.content.size()));
            put16(s, static_cast<uint32_t>(m.name.size()));
            put16(s, 0); // extra field
            if (centralEntry) {
                put16(s, 0); // comment
                put16(s, 0); // disk
                put16(s, 0); // internal attributes
                put32(s, 0); // external attributes
                put32(s, offset);
            }
            s += m.name;
        };
        header(archive, false);
        archive += packed;
        header(central, true);
    }
    uint32_t centralOffset = static_cast<uint32_t>(archive.size());
    archive += central;
    put32(archive, kEndSignature);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, static_cast<uint32_t>(members.size()));
    put16(archive, static_cast<uint32_t>(members.size()));
    put32(archive, static_cast<uint32_t>(central.size()));
    put32(archive, centralOffset);
    put16(archive, 0);
    return archive;
}

std::string generate(const Options& o) {
    if (o.width <= 0 || o.height <= 0 || o.stepTenths <= 0 || o.maxTenths < 0) {
        return "width, height and step must be positive";
    }
    std::vector<ZipMember> members;
    for (int tenths = -o.maxTenths; tenths <= o.maxTenths; tenths += o.stepTenths) {
        double degrees = tenths / double(kTenthsPerDegree);
        ZipMember line{rotatedName(o.lineName, tenths), lineTable(o.width, o.height, degrees)};
        ZipMember pixel{rotatedName(o.pixelName, tenths), pixelTable(o.width, o.height, degrees)};
        if (tenths == 0 || o.plainRotations) {
            if (!writeFile(o.folder + "/" + line.name, line.content) ||
                !writeFile(o.folder + "/" + pixel.name, pixel.content)) {
                return "cannot write the tables into " + o.folder;
            }
        }
        if (!o.zipName.empty()) {
            members.push_back(std::move(line));
            members.push_back(std::move(pixel));
        }
    }
    if (!o.zipName.empty()) {
        std::string zip = zipArchive(members);
        if (zip.empty() || !writeFile(o.folder + "/" + o.zipName, zip)) {
            return "cannot write " + o.folder + "/" + o.zipName;
        }
    }
    return {};
}

} // namespace warpgen
