#include "platform/Autostart.h"
#include "settings/Store.h"
#include "support/Forms.h"

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

using SettingsTest = FormsTest;

// Typing as a keyboard would, also characters that QTest's key tables do not know.
void Type(QWidget *widget, const QString &text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

QByteArray raw(const char *name)
{
    const auto value = Registry::instance().read(SettingsKey, name);
    return value ? value->data : QByteArray("absent");
}

// Opens the settings dialog from the tray menu and lets `edit` work in it while it is shown.
void InDialog(const std::function<void()> &edit)
{
    QTimer::singleShot(100, FrmSettings, [edit] {
        EXPECT_TRUE(FrmSettings->isVisible());
        // The tray ignores input while the dialog is open.
        EXPECT_EQ(FrmMonitor->TrayData.uCallbackMessage, WM_TRAY_DISABLED);
        edit();
    });
    FrmMonitor->miSettingsClick();
    EXPECT_EQ(FrmMonitor->TrayData.uCallbackMessage, WM_TRAY_NOTIFY);
}

TEST_F(SettingsTest, OkStoresEverySettingAndTheCredentials)
{
    CreateForms();
    FrmMonitor->SetFormsReady();
    InDialog([] {
        EXPECT_TRUE(FrmSettings->btnOK->hasFocus());
        QTest::keyClicks(FrmSettings->editLoginID, QStringLiteral("abc"));
        QTest::keyClicks(FrmSettings->editPassword, QStringLiteral("xyz"));
        FrmSettings->boxAutoStart->setChecked(true);
        FrmSettings->boxAutoLogin->setChecked(true);
        FrmSettings->boxAutoLogout->setChecked(true);
        FrmSettings->boxKeepAlive->setChecked(true);
        FrmSettings->boxAutoRZText->setChecked(true);
        FrmSettings->btnOK->click();
    });
    EXPECT_EQ(raw("s_loginid").toHex(), QByteArray("78797a00") + QByteArray(28, char(0xaa)).toHex());
    EXPECT_EQ(raw("s_passwd").toHex(),
              QByteArray("7ce577fcd874cb4329a38a8e800c353749db421ec6997ac637a6fb24bb68003c"));
    for (const char *name : {"s_autologin", "s_autologout", "s_keepalive", "s_autorztext"})
        EXPECT_EQ(raw(name), QByteArray("\x01\x00\x00\x00", 4)) << name;
    EXPECT_EQ(FrmMonitor->LoginID, QByteArray("abc"));
    EXPECT_EQ(FrmMonitor->Password, QByteArray("xyz"));
    EXPECT_TRUE(FrmMonitor->AutoLogout);

    QFile entry(Autostart::entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.contains(
        "Exec=" + Autostart::execValue(QCoreApplication::applicationFilePath()).toUtf8() + "\n"))
        << text.constData();
    EXPECT_FALSE(text.contains("/LOGIN"));

    // Unticked and OK: the entry goes; again with no entry: nothing to complain about.
    for (int i = 0; i < 2; ++i) {
        InDialog([] {
            FrmSettings->boxAutoStart->setChecked(false);
            FrmSettings->btnOK->click();
        });
        EXPECT_FALSE(QFile::exists(Autostart::entryPath()));
    }
    EXPECT_EQ(messages, QStringList());
}

TEST_F(SettingsTest, CancelAndEscapeStoreNothingAndTheNextShowShowsTheStoredState)
{
    WriteIntSetting("s_keepalive", 1);
    CreateForms();
    FrmMonitor->SetFormsReady();
    InDialog([] {
        FrmSettings->boxKeepAlive->setChecked(false);
        FrmSettings->editLoginID->setText(QStringLiteral("neu"));
        FrmSettings->btnCancel->click();
    });
    InDialog([] {
        EXPECT_TRUE(FrmSettings->boxKeepAlive->isChecked());
        EXPECT_EQ(FrmSettings->editLoginID->text(), QString());
        FrmSettings->boxKeepAlive->setChecked(false);
        QTest::keyClick(FrmSettings, Qt::Key_Escape);
    });
    EXPECT_EQ(ReadIntSetting("s_keepalive", 0), 1);
    EXPECT_TRUE(FrmSettings->boxKeepAlive->isChecked());
    EXPECT_EQ(raw("s_loginid"), QByteArray("absent"));
    EXPECT_FALSE(QFile::exists(Autostart::entryPath()));
}

TEST_F(SettingsTest, AutostartEntryOfAnotherPathTicksTheBoxAndIsRewritten)
{
    QDir().mkpath(QFileInfo(Autostart::entryPath()).absolutePath());
    QFile old(Autostart::entryPath());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("[Desktop Entry]\nExec=/opt/alt/zepa-monitor\n");
    old.close();
    CreateForms();
    FrmMonitor->SetFormsReady();
    EXPECT_TRUE(FrmSettings->boxAutoStart->isChecked());
    InDialog([] { FrmSettings->btnOK->click(); });
    QFile entry(Autostart::entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    EXPECT_FALSE(entry.readAll().contains("/opt/alt"));
}

TEST_F(SettingsTest, AutostartFolderThatCannotBeWrittenChangesNothingElse)
{
    // A file where the folder should be: the entry cannot be written, the rest of OK still runs.
    QDir().mkpath(configDir());
    QFile blocker(configDir() + QStringLiteral("/autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CreateForms();
    FrmMonitor->SetFormsReady();
    InDialog([] {
        FrmSettings->boxAutoStart->setChecked(true);
        FrmSettings->boxAutoLogin->setChecked(true);
        FrmSettings->btnOK->click();
    });
    EXPECT_EQ(ReadIntSetting("s_autologin", 0), 1);
    EXPECT_EQ(messages, QStringList());
}

TEST_F(SettingsTest, ExecValueQuotesWhatTheDesktopWouldSplit)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/usr/bin/zepa-monitor", "/usr/bin/zepa-monitor"},
        {"/opt/ZEPA Monitor/zepa-monitor", "\"/opt/ZEPA Monitor/zepa-monitor\""},
        {"/home/a$b/100%/x", "\"/home/a\\\\$b/100%%/x\""},
    };
    for (const auto &[path, exec] : cases)
        EXPECT_EQ(Autostart::execValue(QString::fromUtf8(path)), QString::fromUtf8(exec)) << path;
}

TEST_F(SettingsTest, EditFieldsTakeEightWindows1252Characters)
{
    CreateForms();
    QTest::keyClicks(FrmSettings->editLoginID, QStringLiteral("abcdefghij"));
    EXPECT_EQ(FrmSettings->editLoginID->text(), QStringLiteral("abcdefgh"));
    FrmSettings->editPassword->clear();
    Type(FrmSettings->editPassword, QStringLiteral("äł€"));
    EXPECT_EQ(FrmSettings->editPassword->text(), QStringLiteral("ä€"));
    EXPECT_EQ(FrmSettings->editPassword->echoMode(), QLineEdit::Password);
    EXPECT_EQ(FrmLogin->editLoginID->maxLength(), 8);
}

using LoginDialogTest = FormsTest;

TEST_F(LoginDialogTest, FocusRuleAndRememberingThePassword)
{
    WriteIntSetting("s_keepalive", 1);
    CreateForms();
    FrmMonitor->SetFormsReady();
    const std::pair<QString, bool> cases[] = {{QString(), true}, {QStringLiteral("demo"), false}};
    for (const auto &[id, focusOnId] : cases) {
        FrmLogin->editLoginID->setText(id);
        FrmLogin->editPassword->clear();
        QTimer::singleShot(100, FrmLogin, [focusOnId = focusOnId] {
            EXPECT_EQ(FrmLogin->editLoginID->hasFocus(), focusOnId);
            EXPECT_FALSE(FrmLogin->boxSave->isChecked());
            EXPECT_EQ(FrmMonitor->TrayData.uCallbackMessage, WM_TRAY_DISABLED);
            FrmLogin->boxSave->setChecked(true);
            FrmLogin->btnCancel->click();
        });
        EXPECT_EQ(FrmLogin->exec(), 2);
    }

    // OK without the tick: nothing stored.
    FrmLogin->editLoginID->setText(QStringLiteral("demo"));
    QTimer::singleShot(100, FrmLogin, [] {
        FrmLogin->editPassword->setText(QStringLiteral("geheim"));
        FrmLogin->btnOK->click();
    });
    EXPECT_EQ(FrmLogin->exec(), 1);
    EXPECT_EQ(raw("s_passwd"), QByteArray("absent"));
    EXPECT_TRUE(FrmMonitor->Password.isEmpty());

    // With the tick: the credentials and every other setting as the settings dialog shows them.
    QTimer::singleShot(100, FrmLogin, [] {
        EXPECT_FALSE(FrmLogin->boxSave->isChecked());
        FrmLogin->editPassword->setText(QStringLiteral("geheim"));
        FrmLogin->boxSave->setChecked(true);
        FrmLogin->btnOK->click();
    });
    EXPECT_EQ(FrmLogin->exec(), 1);
    EXPECT_EQ(ReadCredentials(), std::make_pair(QByteArray("demo"), QByteArray("geheim")));
    EXPECT_EQ(FrmMonitor->Password, QByteArray("geheim"));
    EXPECT_EQ(ReadIntSetting("s_keepalive", 0), 1);
    EXPECT_EQ(ReadIntSetting("s_autologin", -1), 0);
    EXPECT_EQ(FrmMonitor->TrayData.uCallbackMessage, WM_TRAY_NOTIFY);
}

} // namespace
