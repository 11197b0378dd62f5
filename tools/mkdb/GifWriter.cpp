#include "mkdb/GifWriter.h"

#include <QList>

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace tarvik {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kCodeLimit = 1 << kMaxCodeBits;
constexpr int kSubBlockSize = 255;

void appendWord(QByteArray& out, int value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

// GIF packs codes from the least significant bit up and cuts the stream into
// length-prefixed sub-blocks.
class CodeStream {
public:
    explicit CodeStream(QByteArray& out) : m_out(out) {}

    void put(int code, int bits)
    {
        m_buffer |= std::uint32_t(code) << m_bitCount;
        m_bitCount += bits;
        while (m_bitCount >= 8) {
            pushByte(char(m_buffer & 0xff));
            m_buffer >>= 8;
            m_bitCount -= 8;
        }
    }

    void finish()
    {
        if (m_bitCount > 0)
            pushByte(char(m_buffer & 0xff));
        flushBlock();
        m_out.append('\0');
    }

private:
    void pushByte(char byte)
    {
        m_block.append(byte);
        if (m_block.size() == kSubBlockSize)
            flushBlock();
    }

    void flushBlock()
    {
        if (m_block.isEmpty())
            return;
        m_out.append(char(m_block.size()));
        m_out.append(m_block);
        m_block.clear();
    }

    QByteArray& m_out;
    QByteArray m_block;
    std::uint32_t m_buffer = 0;
    int m_bitCount = 0;
};

void compress(const QImage& image, int minCodeBits, QByteArray& out)
{
    const int clearCode = 1 << minCodeBits;
    const int endCode = clearCode + 1;
    // Key: the prefix's code and the byte that extends it.
    std::unordered_map<std::uint32_t, int> table;
    table.reserve(kCodeLimit);
    int nextCode = 0;
    int codeBits = 0;
    const auto reset = [&] {
        table.clear();
        nextCode = clearCode + 2;
        codeBits = minCodeBits + 1;
    };

    CodeStream stream(out);
    reset();
    stream.put(clearCode, codeBits);

    int prefix = -1;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            const int pixel = line[x];
            if (prefix < 0) {
                prefix = pixel;
                continue;
            }
            const std::uint32_t key = (std::uint32_t(prefix) << 8) | std::uint32_t(pixel);
            if (const auto found = table.find(key); found != table.end()) {
                prefix = found->second;
                continue;
            }
            stream.put(prefix, codeBits);
            if (nextCode < kCodeLimit) {
                table.emplace(key, nextCode++);
                // The decoder adds each entry one code later than we do, so it widens
                // only once a code of the new width could actually arrive.
                if (nextCode > (1 << codeBits) && codeBits < kMaxCodeBits)
                    ++codeBits;
            } else {
                stream.put(clearCode, codeBits);
                reset();
            }
            prefix = pixel;
        }
    }
    if (prefix >= 0)
        stream.put(prefix, codeBits);
    stream.put(endCode, codeBits);
    stream.finish();
}

QImage toPalette(const QImage& image)
{
    if (image.format() == QImage::Format_Indexed8)
        return image;
    return image.convertToFormat(QImage::Format_Indexed8);
}

} // namespace

QByteArray encodeGif(const QImage& source)
{
    if (source.isNull())
        return {};
    const QImage image = toPalette(source);
    QList<QRgb> palette = image.colorTable();

    // The colour table holds a power of two entries, at least two; the code size at
    // least two bits, as the format demands even for a two-colour picture.
    int tableBits = 1;
    while ((1 << tableBits) < palette.size())
        ++tableBits;
    palette.resize(1 << tableBits, qRgb(0, 0, 0));
    const int minCodeBits = std::max(2, tableBits);

    int transparentIndex = -1;
    if (image.hasAlphaChannel()) {
        const auto clear = std::find_if(palette.cbegin(), palette.cbegin() + image.colorCount(),
                                        [](QRgb c) { return qAlpha(c) == 0; });
        if (clear != palette.cbegin() + image.colorCount())
            transparentIndex = int(clear - palette.cbegin());
    }

    QByteArray out("GIF89a");
    appendWord(out, image.width());
    appendWord(out, image.height());
    out.append(char(0x80 | ((tableBits - 1) << 4) | (tableBits - 1)));
    out.append('\0'); // background colour index
    out.append('\0'); // square pixels
    for (QRgb colour : palette) {
        out.append(char(qRed(colour)));
        out.append(char(qGreen(colour)));
        out.append(char(qBlue(colour)));
    }

    if (transparentIndex >= 0) {
        out.append("\x21\xf9\x04\x01", 4);
        appendWord(out, 0); // no delay: a still image
        out.append(char(transparentIndex));
        out.append('\0');
    }

    out.append(char(0x2c));
    appendWord(out, 0);
    appendWord(out, 0);
    appendWord(out, image.width());
    appendWord(out, image.height());
    out.append('\0'); // no local colour table, not interlaced

    out.append(char(minCodeBits));
    compress(image, minCodeBits, out);
    out.append(char(0x3b));
    return out;
}

} // namespace tarvik
