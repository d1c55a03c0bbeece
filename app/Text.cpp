#include "app/Text.h"

namespace Text {
namespace {

// 0x80..0x9F; 0 marks the five codes that Windows-1252 leaves undefined.
constexpr char16_t High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

int toByte(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i) {
        if (High[i] != 0 && High[i] == u)
            return 0x80 + i;
    }
    return -1;
}

} // namespace

QString fromCp1252(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b < 0xA0 && High[b - 0x80] != 0)
            out.append(QChar(High[b - 0x80]));
        else
            out.append(QChar(b));
    }
    return out;
}

QByteArray toCp1252(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) {
        const int b = toByte(c);
        out.append(b < 0 ? '?' : static_cast<char>(b));
    }
    return out;
}

bool isCp1252(QChar c)
{
    return toByte(c) >= 0;
}

bool isCp1252(const QString &text)
{
    for (QChar c : text) {
        if (!isCp1252(c))
            return false;
    }
    return true;
}

QByteArray fixedField(const QByteArray &text, int size)
{
    QByteArray out = text;
    const int zero = out.indexOf('\0');
    if (zero >= 0)
        out.truncate(zero);
    if (out.size() > size - 1)
        out.truncate(size - 1);
    return out;
}

} // namespace Text
