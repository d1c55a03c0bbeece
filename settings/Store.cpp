#include "settings/Store.h"

#include "platform/Registry.h"

#include <QtEndian>
#include <cstring>

namespace {

constexpr int CredentialSize = 32;

QString wrongType(const char *name)
{
    return QStringLiteral("Ungültiger Datentyp für den Wert »%1« in den Einstellungen.")
        .arg(QString::fromLatin1(name));
}

std::optional<Registry::Value> read(const char *name)
{
    return Registry::instance().read(SettingsKey, QByteArray(name));
}

void write(const char *name, int type, const QByteArray &data)
{
    Registry::instance().write(SettingsKey, QByteArray(name), type, data);
}

// Binary reads accept REG_BINARY and the types the registry layer does not classify.
bool isBinaryLike(int type)
{
    return type != Registry::REG_SZ && type != Registry::REG_EXPAND_SZ && type != Registry::REG_DWORD;
}

QByteArray credentialBlock(const QByteArray &text, char fill)
{
    QByteArray block(CredentialSize, fill);
    const int n = std::min<int>(int(text.size()), CredentialSize - 1);
    std::memcpy(block.data(), text.constData(), n);
    block[n] = '\0';
    return block;
}

unsigned char *bytes(QByteArray &b)
{
    return reinterpret_cast<unsigned char *>(b.data());
}

} // namespace

qint32 ReadIntSetting(const char *name, qint32 defaultValue)
{
    const auto value = read(name);
    if (!value)
        return defaultValue;
    if (value->type != Registry::REG_DWORD || value->data.size() != 4)
        throw RegistryError(wrongType(name));
    return qFromLittleEndian<qint32>(value->data.constData());
}

void WriteIntSetting(const char *name, qint32 value)
{
    QByteArray data(4, '\0');
    qToLittleEndian(value, data.data());
    write(name, Registry::REG_DWORD, data);
}

qint64 ReadInt64Setting(const char *name, qint64 defaultValue)
{
    char buffer[8];
    qToLittleEndian(defaultValue, buffer);
    ReadBinarySetting(name, nullptr, buffer, 8);
    return qFromLittleEndian<qint64>(buffer);
}

void WriteInt64Setting(const char *name, qint64 value)
{
    QByteArray data(8, '\0');
    qToLittleEndian(value, data.data());
    write(name, Registry::REG_BINARY, data);
}

TDateTime ReadDateSetting(const char *name, TDateTime defaultValue)
{
    const auto value = read(name);
    if (!value)
        return defaultValue;
    if (value->type != Registry::REG_BINARY || value->data.size() != 8)
        throw RegistryError(wrongType(name));
    const double t = qFromLittleEndian<double>(value->data.constData());
    return DateTime::isPlausible(t) ? t : defaultValue;
}

void WriteDateSetting(const char *name, TDateTime value)
{
    QByteArray data(8, '\0');
    qToLittleEndian(value, data.data());
    write(name, Registry::REG_BINARY, data);
}

char *ReadBinarySetting(const char *name, const char *defaultValue, char *buffer, int size)
{
    const auto value = read(name);
    if (!value) {
        if (!defaultValue)
            return nullptr;
        std::memcpy(buffer, defaultValue, size);
        return buffer;
    }
    if (!isBinaryLike(value->type) || value->data.size() > size)
        throw RegistryError(wrongType(name));
    // A shorter value replaces only its own length.
    std::memcpy(buffer, value->data.constData(), value->data.size());
    return buffer;
}

void WriteBinarySetting(const char *name, const char *buffer, int size)
{
    write(name, Registry::REG_BINARY, QByteArray(buffer, size));
}

void ScramblePassword(unsigned char *buffer, const unsigned char *other, int count)
{
    quint32 state = static_cast<quint32>(count);
    auto next = [&state] {
        state = state * 22695477u + 1u;
        return (state >> 16) & 0x7FFFu;
    };
    next();
    for (int i = 0; i < count; ++i)
        buffer[i] = static_cast<unsigned char>(buffer[i] ^ (next() % 256) ^ other[i]);
}

void WriteCredentials(const QByteArray &loginId, const QByteArray &password)
{
    QByteArray l = credentialBlock(loginId, char(0x55));
    QByteArray p = credentialBlock(password, char(0xAA));
    ScramblePassword(bytes(p), bytes(l), CredentialSize);
    ScramblePassword(bytes(l), bytes(p), CredentialSize);
    // One transaction: a crash between the two must not leave a readable password block alone.
    Registry::instance().writeAll(
        SettingsKey, {{"s_loginid", Registry::REG_BINARY, l}, {"s_passwd", Registry::REG_BINARY, p}});
}

std::pair<QByteArray, QByteArray> ReadCredentials()
{
    QByteArray l(CredentialSize, char(0x55));
    QByteArray p(CredentialSize, char(0xAA));
    const QByteArray z(CredentialSize, '\0');
    ReadBinarySetting("s_loginid", z.constData(), l.data(), CredentialSize);
    ReadBinarySetting("s_passwd", z.constData(), p.data(), CredentialSize);
    if (l != z && p != z) {
        ScramblePassword(bytes(l), bytes(p), CredentialSize);
        ScramblePassword(bytes(p), bytes(l), CredentialSize);
    }
    auto text = [](const QByteArray &block) {
        const int zero = block.indexOf('\0');
        return zero < 0 ? block : block.left(zero);
    };
    return {text(l), text(p)};
}
