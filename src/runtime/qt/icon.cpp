#include "runtime/qt/icon.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <QByteArray>
#include <QFile>

namespace runtime::qt {

namespace {

std::uint32_t read16(const uchar* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t read32(const uchar* p) { return read16(p) | read16(p + 2) << 16; }

// One image of the file: a BITMAPINFOHEADER, the palette, the colour rows and the 1-bit
// mask rows, both bottom-up with rows padded to four bytes. A null image if it is another
// kind of image or does not hold together.
QImage decodeBitmap(const uchar* data, std::size_t size) {
    if (size < 40 || read32(data) != 40) return {};
    const std::int32_t width = std::int32_t(read32(data + 4));
    const std::int32_t height = std::int32_t(read32(data + 8)) / 2;  // colour rows, then mask rows
    const std::uint32_t bits = read16(data + 14);
    const std::uint32_t compression = read32(data + 16);
    std::uint32_t colours = read32(data + 32);
    if (width <= 0 || width > 256 || height <= 0 || height > 256 || compression != 0) return {};
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return {};
    if (bits <= 8 && (colours == 0 || colours > (1u << bits))) colours = 1u << bits;
    if (bits > 8) colours = 0;

    const std::size_t stride = ((std::size_t(width) * bits + 31) / 32) * 4;
    const std::size_t maskStride = ((std::size_t(width) + 31) / 32) * 4;
    const std::size_t paletteAt = 40, pixelsAt = paletteAt + 4 * std::size_t(colours);
    const std::size_t maskAt = pixelsAt + stride * std::size_t(height);
    if (maskAt + maskStride * std::size_t(height) > size) return {};

    QImage image(width, height, QImage::Format_ARGB32);
    for (std::int32_t y = 0; y < height; ++y) {
        const uchar* row = data + pixelsAt + stride * std::size_t(height - 1 - y);
        const uchar* mask = data + maskAt + maskStride * std::size_t(height - 1 - y);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (std::int32_t x = 0; x < width; ++x) {
            QRgb colour;
            if (bits <= 8) {
                const std::size_t bit = std::size_t(x) * bits;
                const std::uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                const uchar* entry = data + paletteAt + 4 * std::min(index, colours - 1);
                colour = qRgb(entry[2], entry[1], entry[0]);
            } else {
                const uchar* p = row + std::size_t(x) * (bits / 8);
                colour = bits == 32 ? qRgba(p[2], p[1], p[0], p[3]) : qRgb(p[2], p[1], p[0]);
            }
            const bool clear = (mask[x / 8] >> (7 - x % 8)) & 1;
            out[x] = clear && bits != 32 ? qRgba(0, 0, 0, 0) : colour;
        }
    }
    return image;
}

} // namespace

QImage LoadIcon(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());

    // ICONDIR: reserved 0, type 1, count; then 16-byte entries.
    if (size >= 6 && read16(data) == 0 && read16(data + 2) == 1) {
        const std::uint32_t count = read16(data + 4);
        std::size_t best = 0;
        int bestSide = -1;
        for (std::uint32_t i = 0; i < count && 6 + 16 * (i + 1) <= size; ++i) {
            const uchar* entry = data + 6 + 16 * i;
            const int side = entry[0] == 0 ? 256 : entry[0];
            const int rank = side == 32 ? 1000 : side;
            if (rank > bestSide) bestSide = rank, best = i;
        }
        if (bestSide >= 0) {
            const uchar* entry = data + 6 + 16 * best;
            const std::size_t length = read32(entry + 8), offset = read32(entry + 12);
            if (offset <= size && length <= size - offset) {
                QImage image = decodeBitmap(data + offset, length);
                if (!image.isNull()) return image;
            }
        }
    }
    return QImage::fromData(bytes);
}

} // namespace runtime::qt
