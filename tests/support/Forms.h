#pragma once

#include "app/Application.h"
#include "app/Entry.h"
#include "app/Monitor.h"
#include "notices/Rztext.h"
#include "notices/Statistic.h"
#include "platform/Echo.h"
#include "platform/Registry.h"
#include "settings/Login.h"
#include "settings/Settings.h"
#include "traffic/Shutdown.h"

#include <QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

// The six forms in their order over fresh XDG directories, with message boxes answered by a hook.
// Tests run inside a network namespace whose veth holds 10.0.1.23 (tests/netns-run.sh).
class FormsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        for (const char *dir : {"config", "data", "runtime"})
            QDir(m_home.path()).mkpath(QLatin1String(dir));
        qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/config")).toUtf8());
        qputenv("XDG_DATA_HOME", (m_home.path() + QStringLiteral("/data")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", (m_home.path() + QStringLiteral("/runtime")).toUtf8());
        Registry::resetForTesting();
        MessageBoxForTesting::setHook([this](QMessageBox::Icon, const QString &text) {
            messages << text;
            return QMessageBox::Abort;
        });
        Echo::setProbeForTesting([this](const char *) { return online; });
    }

    void TearDown() override
    {
        DestroyForms();
        MessageBoxForTesting::setHook(nullptr);
        Echo::setProbeForTesting(nullptr);
        Registry::resetForTesting();
    }

    void CreateForms() { ::CreateForms(); }

    void DestroyForms()
    {
        EndForms();
        Application::get()->resetForTesting();
    }

    QString configDir() const { return m_home.path() + QStringLiteral("/config"); }
    QString runtimeDir() const { return m_home.path() + QStringLiteral("/runtime"); }

    QStringList messages;
    bool online = false;

private:
    QTemporaryDir m_home;
};

// Readable failure messages for Qt's texts.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray &bytes, std::ostream *out)
{
    *out << '"' << bytes.toStdString() << '"';
}
