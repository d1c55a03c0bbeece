#include "platform/Registry.h"
#include "settings/Store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Each test gets a store of its own under a fresh XDG_CONFIG_HOME.
class Store : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
        Registry::resetForTesting();
    }
    void TearDown() override { Registry::resetForTesting(); }

    QString dbPath() const { return m_dir.path() + QStringLiteral("/ZEPA_Monitor/registry.db"); }

    // Puts a value in by hand, as a user with the sqlite3 tool would.
    void putRaw(const char *name, int type, const QByteArray &data)
    {
        Registry::instance().write(SettingsKey, name, type, data);
    }

    QByteArray raw(const char *name)
    {
        const auto value = Registry::instance().read(SettingsKey, name);
        return value ? value->data : QByteArray();
    }

    QTemporaryDir m_dir;
};

TEST_F(Store, CredentialBlocksMatchTheStoredLayoutByteForByte)
{
    WriteCredentials("abc", "xyz");
    EXPECT_EQ(raw("s_loginid").toHex(), QByteArray("78797a00") + QByteArray(28, char(0xaa)).toHex());
    EXPECT_EQ(raw("s_passwd").toHex(),
              QByteArray("7ce577fcd874cb4329a38a8e800c353749db421ec6997ac637a6fb24bb68003c"));
    const auto value = Registry::instance().read(SettingsKey, "s_passwd");
    EXPECT_EQ(value->type, Registry::REG_BINARY);
}

TEST_F(Store, CredentialsRoundTrip)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"abc", "xyz"}, {"", ""}, {"12345678", "p&=+%ä\xfc!"}, {"a", ""}, {"", "secret"},
    };
    for (const auto &[id, password] : cases) {
        WriteCredentials(id, password);
        EXPECT_EQ(ReadCredentials(), std::make_pair(id, password)) << id.constData();
        // Even empty texts leave two values that are not all zero.
        EXPECT_NE(raw("s_loginid"), QByteArray(32, '\0'));
        EXPECT_NE(raw("s_passwd"), QByteArray(32, '\0'));
    }
}

TEST_F(Store, OneCredentialValueAloneIsNotDecoded)
{
    EXPECT_EQ(ReadCredentials(), std::make_pair(QByteArray(), QByteArray()));
    putRaw("s_loginid", Registry::REG_BINARY, QByteArray("plain\0", 6) + QByteArray(26, 'x'));
    EXPECT_EQ(ReadCredentials(), std::make_pair(QByteArray("plain"), QByteArray()));
    putRaw("s_passwd", Registry::REG_BINARY, QByteArray(32, '\0'));
    EXPECT_EQ(ReadCredentials(), std::make_pair(QByteArray("plain"), QByteArray()));
}

TEST_F(Store, TypedValuesKeepTheirKindsAndLayouts)
{
    EXPECT_EQ(ReadIntSetting("s_autologin", 7), 7);
    EXPECT_EQ(ReadInt64Setting("downloaded", 42), 42);
    EXPECT_EQ(ReadDateSetting("date", 45000.25), 45000.25);

    WriteIntSetting("win_left", -120);
    WriteInt64Setting("downloaded", 0x0102030405060708LL);
    WriteDateSetting("date", 39330.5);
    EXPECT_EQ(ReadIntSetting("win_left", 0), -120);
    EXPECT_EQ(ReadInt64Setting("downloaded", 0), 0x0102030405060708LL);
    EXPECT_EQ(ReadDateSetting("date", 0), 39330.5);

    EXPECT_EQ(Registry::instance().read(SettingsKey, "win_left")->type, Registry::REG_DWORD);
    EXPECT_EQ(raw("win_left").toHex(), QByteArray("88ffffff"));
    EXPECT_EQ(Registry::instance().read(SettingsKey, "downloaded")->type, Registry::REG_BINARY);
    EXPECT_EQ(raw("downloaded").toHex(), QByteArray("0807060504030201"));
    QByteArray date(8, '\0');
    qToLittleEndian(39330.5, date.data());
    EXPECT_EQ(raw("date"), date);
    // Names do not depend on case, as in the registry.
    EXPECT_EQ(ReadIntSetting("WIN_LEFT", 0), -120);
}

TEST_F(Store, WrongTypesAreTheRegistryLayersError)
{
    struct Case
    {
        const char *name;
        int type;
        QByteArray data;
        std::function<void()> read;
    };
    const Case cases[] = {
        {"s_autologin", Registry::REG_BINARY, QByteArray(4, '\1'), [] { ReadIntSetting("s_autologin", 0); }},
        {"s_keepalive", Registry::REG_SZ, "1", [] { ReadIntSetting("s_keepalive", 0); }},
        {"downloaded", Registry::REG_DWORD, QByteArray(4, '\1'), [] { ReadInt64Setting("downloaded", 0); }},
        {"uploaded", Registry::REG_BINARY, QByteArray(9, '\1'), [] { ReadInt64Setting("uploaded", 0); }},
        {"date", Registry::REG_BINARY, QByteArray(4, '\1'), [] { ReadDateSetting("date", 0); }},
        {"date", Registry::REG_DWORD, QByteArray(4, '\1'), [] { ReadDateSetting("date", 0); }},
    };
    for (const Case &c : cases) {
        putRaw(c.name, c.type, c.data);
        EXPECT_THROW(c.read(), RegistryError) << c.name << " type " << c.type;
    }
}

TEST_F(Store, ShortBinaryValueReplacesOnlyItsOwnLength)
{
    putRaw("downloaded", Registry::REG_BINARY, QByteArray("\x11\x22", 2));
    EXPECT_EQ(ReadInt64Setting("downloaded", 0x7766554433000000LL), 0x7766554433002211LL);
    // An unclassified type reads like binary.
    putRaw("uploaded", 11, QByteArray("\x05", 1));
    EXPECT_EQ(ReadInt64Setting("uploaded", 0), 5);
}

TEST_F(Store, BinaryWithoutDefaultTellsAbsence)
{
    char buffer[33] = "untouched";
    EXPECT_EQ(ReadBinarySetting("last_rztext", nullptr, buffer, 32), nullptr);
    EXPECT_STREQ(buffer, "untouched");
    WriteBinarySetting("last_rztext", " RZTEXT hello", 13);
    EXPECT_EQ(ReadBinarySetting("last_rztext", nullptr, buffer, 32), buffer);
    EXPECT_EQ(QByteArray(buffer, 13), QByteArray(" RZTEXT hello"));
}

TEST_F(Store, ImplausibleDateCountsAsAbsent)
{
    for (double bad : {std::nan(""), double(INFINITY), -1e9, 1e300}) {
        WriteDateSetting("date", bad);
        EXPECT_EQ(ReadDateSetting("date", 45000.0), 45000.0) << bad;
    }
}

TEST_F(Store, FileAndFolderAreTheUsersAlone)
{
    WriteIntSetting("s_autologin", 1);
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(dbPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(QFileInfo(dbPath()).absolutePath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Readable by the sqlite3 tool with the documented schema, written at once.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(dbPath()).constData(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt *stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT key, name, type, hex(data) FROM reg_values", -1, &stmt, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)), "Software\\ZEPA_Monitor");
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)), "s_autologin");
    EXPECT_EQ(sqlite3_column_int(stmt, 2), 4);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3)), "01000000");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST_F(Store, DamagedFileIsMovedAsideNotOverwritten)
{
    Registry::resetForTesting();
    QDir().mkpath(QFileInfo(dbPath()).absolutePath());
    const QByteArray garbage =
        QByteArray("this is no database, but the user's file ") + QByteArray(4000, 'x');
    {
        QFile file(dbPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    Registry &store = Registry::instance();
    ASSERT_FALSE(store.movedAsidePath().isEmpty());
    EXPECT_TRUE(store.movedAsidePath().contains(QStringLiteral("beschaedigt")));
    QFile aside(store.movedAsidePath());
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), garbage);
    // The fresh store works.
    EXPECT_EQ(ReadIntSetting("s_autologin", 3), 3);
    WriteIntSetting("s_autologin", 1);
    EXPECT_EQ(ReadIntSetting("s_autologin", 0), 1);
}

TEST(Scramble, SameCountSameStream)
{
    unsigned char a[32] = {};
    unsigned char b[32] = {};
    const unsigned char zero[32] = {};
    ScramblePassword(a, zero, 32);
    ScramblePassword(b, zero, 32);
    EXPECT_EQ(std::memcmp(a, b, 32), 0);
    // The first outputs of the generator seeded with 32, after one dropped step.
    quint32 state = 32;
    state = state * 22695477u + 1u;
    state = state * 22695477u + 1u;
    EXPECT_EQ(a[0], (state >> 16) & 0xff);
}

} // namespace
