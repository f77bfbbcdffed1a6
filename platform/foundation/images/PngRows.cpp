#include "platform/foundation/images/PngRows_p.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace Tickerly::Foundation {

namespace {

// Ancillary chunks (profiles, compressed text) are never shown; one this large is damage.
constexpr png_alloc_size_t maxChunkBytes = 2 * 1024 * 1024;

struct Input {
    const uchar* data;
    size_t size;
    size_t at = 0;
};

void readInput(png_structp png, png_bytep out, size_t count)
{
    auto* input = static_cast<Input*>(png_get_io_ptr(png));
    if (count > input->size - input->at)
        png_error(png, "cut short");
    std::memcpy(out, input->data + input->at, count);
    input->at += count;
}

[[noreturn]] void fail(png_structp png, png_const_charp) { std::longjmp(png_jmpbuf(png), 1); }

void ignore(png_structp, png_const_charp) { }

// One decode. Everything the rows touch is a member, so nothing the decoder's jump back skips
// over is left in a register or half made.
class Reader {
public:
    Reader(const QByteArray& bytes, QSize reduced, int maxSide)
        : m_input { reinterpret_cast<const uchar*>(bytes.constData()), size_t(bytes.size()) }
        , m_reduced(reduced)
        , m_maxSide(maxSide)
    {
        m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignore);
        if (m_png)
            m_info = png_create_info_struct(m_png);
    }
    ~Reader() { png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    QImage read()
    {
        if (!m_png || !m_info || m_reduced.isEmpty())
            return {};
        if (setjmp(png_jmpbuf(m_png)))
            return {};
        readHeader();
        if (!m_ok)
            return {};
        for (m_y = 0; m_y < m_height; ++m_y) {
            png_read_row(m_png, m_row.data(), nullptr);
            addRow();
        }
        return std::move(m_out);
    }

private:
    void readHeader()
    {
        png_set_read_fn(m_png, &m_input, readInput);
        png_set_user_limits(m_png, png_uint_32(m_maxSide), png_uint_32(m_maxSide));
        png_set_chunk_malloc_max(m_png, maxChunkBytes);
        png_read_info(m_png, m_info);
        png_uint_32 width = 0, height = 0;
        int depth = 0, colour = 0, interlace = 0;
        png_get_IHDR(m_png, m_info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
        m_width = int(width);
        m_height = int(height);
        if (interlace != PNG_INTERLACE_NONE || m_reduced.width() > m_width
            || m_reduced.height() > m_height)
            return;
        m_alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(m_png, m_info, PNG_INFO_tRNS);
        // Every kind arrives as 8-bit RGBA: palettes, gray and low depths expanded, transparency
        // made alpha, 16-bit samples scaled.
        png_set_expand(m_png);
        png_set_scale_16(m_png);
        png_set_gray_to_rgb(m_png);
        png_set_filler(m_png, 0xFF, PNG_FILLER_AFTER);
        png_read_update_info(m_png, m_info);
        if (png_get_rowbytes(m_png, m_info) != size_t(m_width) * 4)
            return;
        m_row.resize(size_t(m_width) * 4);
        m_column.resize(size_t(m_width));
        m_columnCount.assign(size_t(m_reduced.width()), 0);
        for (int x = 0; x < m_width; ++x) {
            m_column[size_t(x)] = int(qint64(x) * m_reduced.width() / m_width);
            ++m_columnCount[size_t(m_column[size_t(x)])];
        }
        m_sums.assign(size_t(m_reduced.width()) * 4, 0);
        m_out = QImage(
            m_reduced, m_alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
        m_ok = !m_out.isNull();
    }

    void addRow()
    {
        const png_byte* p = m_row.data();
        quint64* sums = m_sums.data();
        for (int x = 0; x < m_width; ++x, p += 4) {
            quint64* s = sums + 4 * m_column[size_t(x)];
            const quint64 a = m_alpha ? p[3] : 1;
            s[0] += p[0] * a;
            s[1] += p[1] * a;
            s[2] += p[2] * a;
            s[3] += a;
        }
        ++m_rowsInLine;
        const int line = int(qint64(m_y) * m_reduced.height() / m_height);
        const bool last
            = m_y + 1 == m_height || int(qint64(m_y + 1) * m_reduced.height() / m_height) != line;
        if (last)
            finishLine(line);
    }

    void finishLine(int line)
    {
        auto* out = reinterpret_cast<QRgb*>(m_out.scanLine(line));
        for (int x = 0; x < m_reduced.width(); ++x) {
            quint64* s = m_sums.data() + 4 * x;
            const quint64 count = quint64(m_columnCount[size_t(x)]) * quint64(m_rowsInLine);
            const quint64 scale = count * (m_alpha ? 255 : 1);
            out[x] = qRgba(int(s[0] / scale), int(s[1] / scale), int(s[2] / scale),
                m_alpha ? int(s[3] / count) : 255);
            s[0] = s[1] = s[2] = s[3] = 0;
        }
        m_rowsInLine = 0;
    }

    Input m_input;
    const QSize m_reduced;
    const int m_maxSide;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    bool m_ok = false;
    bool m_alpha = false;
    int m_width = 0;
    int m_height = 0;
    int m_y = 0;
    int m_rowsInLine = 0;
    std::vector<png_byte> m_row;
    std::vector<int> m_column; // the output column each stored column falls in
    std::vector<int> m_columnCount;
    std::vector<quint64> m_sums; // per output column: red, green, blue (times alpha) and alpha
    QImage m_out;
};

} // namespace

QImage readPngReduced(const QByteArray& bytes, QSize reduced, int maxSide)
{
    Reader reader(bytes, reduced, maxSide);
    return reader.read();
}

} // namespace Tickerly::Foundation
