#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

// The error of the registry layer: a value of the wrong type, or a set the store refused.
class RegistryError : public std::runtime_error
{
public:
    explicit RegistryError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The per-user registry stand-in: one SQLite file of typed values under named keys.
class Registry
{
public:
    enum Type : int
    {
        REG_SZ = 1,
        REG_EXPAND_SZ = 2,
        REG_BINARY = 3,
        REG_DWORD = 4
    };

    struct Value
    {
        int type = 0;
        QByteArray data;
    };

    struct Write
    {
        QByteArray name;
        int type;
        QByteArray data;
    };

    // Opened on first use at $XDG_CONFIG_HOME/ZEPA_Monitor/registry.db.
    static Registry &instance();
    // Closes the store so that the next use opens it anew (tests switch XDG_CONFIG_HOME).
    static void resetForTesting();

    static QString defaultPath();

    // Empty when the store cannot be opened or the value is absent.
    std::optional<Value> read(const QString &key, const QByteArray &name);
    // Nothing happens when the store cannot be opened; a refused statement throws RegistryError.
    void write(const QString &key, const QByteArray &name, int type, const QByteArray &data);
    // All values in one transaction: either all of them are stored or none.
    void writeAll(const QString &key, const std::vector<Write> &values);
    void remove(const QString &key, const QByteArray &name);

    // When a damaged store was moved aside at opening: where it went; empty otherwise.
    QString movedAsidePath() const { return m_movedAside; }
    QString path() const { return m_path; }
    bool isOpen() const;

    ~Registry();

private:
    explicit Registry(const QString &path);
    bool open();
    bool openFresh();
    void close();

    struct Db;
    std::unique_ptr<Db> m_db;
    QString m_path;
    QString m_movedAside;
};
