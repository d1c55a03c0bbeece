#include "platform/Registry.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

RegistryError::RegistryError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

struct Registry::Db
{
    sqlite3 *handle = nullptr;
    sqlite3_stmt *select = nullptr;
    sqlite3_stmt *upsert = nullptr;
    sqlite3_stmt *erase = nullptr;
};

namespace {

std::unique_ptr<Registry> &slot()
{
    static std::unique_ptr<Registry> registry;
    return registry;
}

QString sqliteText(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// Prepared once: every counter hand-over writes, so a write must cost microseconds.
sqlite3_stmt *prepare(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
        return nullptr;
    return stmt;
}

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

Registry &Registry::instance()
{
    auto &registry = slot();
    if (!registry)
        registry.reset(new Registry(defaultPath()));
    return *registry;
}

void Registry::resetForTesting()
{
    slot().reset();
}

QString Registry::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/ZEPA_Monitor/registry.db");
}

Registry::Registry(const QString &path) : m_path(path)
{
    open();
}

Registry::~Registry()
{
    close();
}

bool Registry::isOpen() const
{
    return m_db && m_db->handle;
}

void Registry::close()
{
    if (!m_db)
        return;
    sqlite3_finalize(m_db->select);
    sqlite3_finalize(m_db->upsert);
    sqlite3_finalize(m_db->erase);
    sqlite3_close_v2(m_db->handle);
    m_db.reset();
}

bool Registry::openFresh()
{
    const QFileInfo info(m_path);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    ::chmod(dir.constData(), 0700);
    // Created by us so that the credentials never sit in a file readable by others.
    const QByteArray file = QFile::encodeName(m_path);
    const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);
    ::close(fd);

    m_db = std::make_unique<Db>();
    if (sqlite3_open_v2(file.constData(), &m_db->handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db->handle, 5000);
    return true;
}

bool Registry::open()
{
    if (!openFresh())
        return false;

    sqlite3 *db = m_db->handle;
    bool healthy = exec(db, "PRAGMA journal_mode=WAL") && exec(db, "PRAGMA synchronous=NORMAL");
    if (healthy) {
        sqlite3_stmt *check = prepare(db, "PRAGMA quick_check");
        healthy = check && sqlite3_step(check) == SQLITE_ROW &&
                  QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(check, 0))) == "ok";
        sqlite3_finalize(check);
    }
    if (!healthy) {
        // Only a file that is no database or a damaged one is moved; a busy store is left alone.
        const int code = sqlite3_errcode(db) & 0xff;
        if (code != SQLITE_NOTADB && code != SQLITE_CORRUPT && code != SQLITE_OK && code != SQLITE_ROW &&
            code != SQLITE_DONE) {
            close();
            return false;
        }
        // Keep the damaged file for the user instead of overwriting it, and start empty.
        close();
        const QString aside = m_path + QStringLiteral(".beschaedigt-") +
                              QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        if (!QFile::rename(m_path, aside))
            return false;
        for (const char *suffix : {"-wal", "-shm"}) {
            const QString extra = m_path + QLatin1String(suffix);
            if (QFile::exists(extra))
                QFile::rename(extra, aside + QLatin1String(suffix));
        }
        m_movedAside = aside;
        if (!openFresh())
            return false;
        db = m_db->handle;
        exec(db, "PRAGMA journal_mode=WAL");
        exec(db, "PRAGMA synchronous=NORMAL");
    }

    const bool ready = exec(db, "CREATE TABLE IF NOT EXISTS reg_values ("
                                "  key  TEXT    NOT NULL COLLATE NOCASE,"
                                "  name TEXT    NOT NULL COLLATE NOCASE,"
                                "  type INTEGER NOT NULL,"
                                "  data BLOB    NOT NULL,"
                                "  PRIMARY KEY (key, name))");
    if (ready) {
        m_db->select = prepare(db, "SELECT type, data FROM reg_values WHERE key = ?1 AND name = ?2");
        m_db->upsert = prepare(db, "INSERT INTO reg_values (key, name, type, data) VALUES (?1, ?2, ?3, ?4) "
                                   "ON CONFLICT (key, name) DO UPDATE SET type = excluded.type, "
                                   "data = excluded.data");
        m_db->erase = prepare(db, "DELETE FROM reg_values WHERE key = ?1 AND name = ?2");
    }
    if (!ready || !m_db->select || !m_db->upsert || !m_db->erase) {
        close();
        return false;
    }
    return true;
}

std::optional<Registry::Value> Registry::read(const QString &key, const QByteArray &name)
{
    if (!isOpen())
        return std::nullopt;
    sqlite3_stmt *stmt = m_db->select;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    std::optional<Value> value;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        Value v;
        v.type = sqlite3_column_int(stmt, 0);
        const void *blob = sqlite3_column_blob(stmt, 1);
        const int size = sqlite3_column_bytes(stmt, 1);
        v.data = QByteArray(static_cast<const char *>(blob), size);
        value = v;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw RegistryError(QStringLiteral("Der Wert »%1« konnte nicht gelesen werden: %2")
                                .arg(QString::fromLatin1(name), sqliteText(m_db->handle)));
    return value;
}

void Registry::write(const QString &key, const QByteArray &name, int type, const QByteArray &data)
{
    writeAll(key, {{name, type, data}});
}

void Registry::writeAll(const QString &key, const std::vector<Write> &values)
{
    if (!isOpen())
        return;
    sqlite3 *db = m_db->handle;
    const bool many = values.size() > 1;
    if (many && !exec(db, "BEGIN IMMEDIATE"))
        throw RegistryError(
            QStringLiteral("Die Einstellungen konnten nicht gespeichert werden: %1").arg(sqliteText(db)));
    const QByteArray k = key.toUtf8();
    for (const Write &w : values) {
        sqlite3_stmt *stmt = m_db->upsert;
        sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, w.name.constData(), int(w.name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(stmt, 3, w.type);
        // A zero-length blob must still be stored as a blob, not as NULL.
        sqlite3_bind_blob(stmt, 4, w.data.isEmpty() ? "" : w.data.constData(), int(w.data.size()),
                          SQLITE_TRANSIENT);
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (rc != SQLITE_DONE) {
            const QString text = sqliteText(db);
            if (many)
                exec(db, "ROLLBACK");
            throw RegistryError(QStringLiteral("Der Wert »%1« konnte nicht gespeichert werden: %2")
                                    .arg(QString::fromLatin1(w.name), text));
        }
    }
    if (many && !exec(db, "COMMIT")) {
        const QString text = sqliteText(db);
        exec(db, "ROLLBACK");
        throw RegistryError(
            QStringLiteral("Die Einstellungen konnten nicht gespeichert werden: %1").arg(text));
    }
}

void Registry::remove(const QString &key, const QByteArray &name)
{
    if (!isOpen())
        return;
    sqlite3_stmt *stmt = m_db->erase;
    const QByteArray k = key.toUtf8();
    sqlite3_bind_text(stmt, 1, k.constData(), int(k.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_DONE)
        throw RegistryError(QStringLiteral("Der Wert »%1« konnte nicht gelöscht werden: %2")
                                .arg(QString::fromLatin1(name), sqliteText(m_db->handle)));
}
