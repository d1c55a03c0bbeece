#include "settings/Settings.h"

#include "app/Monitor.h"
#include "app/Text.h"
#include "platform/Autostart.h"
#include "settings/Store.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

QValidator::State Cp1252Validator::validate(QString &input, int &) const
{
    return Text::isCp1252(input) ? Acceptable : Invalid;
}

QLineEdit *NewCredentialEdit(QWidget *parent, const char *name, bool masked)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setMaxLength(8);
    edit->setValidator(new Cp1252Validator(edit));
    if (masked) {
        edit->setEchoMode(QLineEdit::Password);
        // Asterisks: eight of the style's round marks do not fit the narrow field.
        edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    }
    return edit;
}

TFrmSettings::TFrmSettings() : FormDialog(nullptr)
{
    setObjectName(QStringLiteral("FrmSettings"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFixedSize(190, 210);

    JvLabel1 = new QLabel(QStringLiteral("LoginID"), this);
    JvLabel1->setObjectName(QStringLiteral("JvLabel1"));
    JvLabel1->setGeometry(8, 6, 80, 16);
    editLoginID = NewCredentialEdit(this, "editLoginID", false);
    editLoginID->setGeometry(8, 22, 82, 22);
    JvLabel2 = new QLabel(QStringLiteral("Passwort"), this);
    JvLabel2->setObjectName(QStringLiteral("JvLabel2"));
    JvLabel2->setGeometry(100, 6, 80, 16);
    editPassword = NewCredentialEdit(this, "editPassword", true);
    editPassword->setGeometry(100, 22, 82, 22);

    auto box = [this](const char *name, const QString &caption, int top) {
        auto *check = new QCheckBox(caption, this);
        check->setObjectName(QLatin1String(name));
        check->setGeometry(8, top, 176, 20);
        return check;
    };
    boxAutoStart = box("boxAutoStart", QStringLiteral("Start mit Windows"), 54);
    boxAutoLogin = box("boxAutoLogin", QStringLiteral("Login beim Starten"), 76);
    boxAutoLogout = box("boxAutoLogout", QStringLiteral("Logout beim Beenden"), 98);
    boxKeepAlive = box("boxKeepAlive", QStringLiteral("Bleib ständig online"), 120);
    boxAutoRZText = box("boxAutoRZText", QStringLiteral("Zeig neue RZTexte"), 142);

    btnOK = new QPushButton(QIcon(QStringLiteral(":/icons/ok.svg")), QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(8, 176, 84, 26);
    btnOK->setDefault(true);
    btnCancel =
        new QPushButton(QIcon(QStringLiteral(":/icons/cancel.svg")), QStringLiteral("Abbrechen"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(98, 176, 84, 26);
    btnCancel->setAutoDefault(false);

    setTabOrder(editLoginID, editPassword);
    setTabOrder(editPassword, btnOK);
    setTabOrder(btnOK, btnCancel);
    setTabOrder(btnCancel, boxAutoStart);
    setTabOrder(boxAutoStart, boxAutoLogin);
    setTabOrder(boxAutoLogin, boxAutoLogout);
    setTabOrder(boxAutoLogout, boxKeepAlive);
    setTabOrder(boxKeepAlive, boxAutoRZText);

    connect(btnOK, &QPushButton::clicked, this, [this] {
        btnOKClick();
        done(1);
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(2); });

    LoadSettings();
}

void TFrmSettings::LoadSettings()
{
    boxAutoStart->setChecked(Autostart::exists());
    boxAutoLogin->setChecked(ReadIntSetting("s_autologin", 0) != 0);
    const auto [loginId, password] = ReadCredentials();
    editLoginID->setText(Text::fromCp1252(loginId));
    editPassword->setText(Text::fromCp1252(password));
    boxAutoLogout->setChecked(ReadIntSetting("s_autologout", 0) != 0);
    boxKeepAlive->setChecked(ReadIntSetting("s_keepalive", 0) != 0);
    boxAutoRZText->setChecked(ReadIntSetting("s_autorztext", 0) != 0);
}

void TFrmSettings::btnOKClick()
{
    // A folder that cannot be written changes nothing and reports nothing.
    if (boxAutoStart->isChecked())
        Autostart::write(QCoreApplication::applicationFilePath());
    else
        Autostart::remove();
    WriteIntSetting("s_autologin", boxAutoLogin->isChecked() ? 1 : 0);
    WriteCredentials(Text::toCp1252(editLoginID->text()), Text::toCp1252(editPassword->text()));
    WriteIntSetting("s_autologout", boxAutoLogout->isChecked() ? 1 : 0);
    WriteIntSetting("s_keepalive", boxKeepAlive->isChecked() ? 1 : 0);
    WriteIntSetting("s_autorztext", boxAutoRZText->isChecked() ? 1 : 0);
    FrmMonitor->ApplySettings(false);
}

void TFrmSettings::ApplyAtStart()
{
    FrmMonitor->ApplySettings(true);
}

void TFrmSettings::FormShow()
{
    FrmMonitor->SetTrayEnabled(false);
    btnOK->setFocus();
}

void TFrmSettings::FormHide()
{
    // Edits that were not stored are thrown away.
    LoadSettings();
    FrmMonitor->SetTrayEnabled(true);
}
