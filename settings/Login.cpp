#include "settings/Login.h"

#include "app/Monitor.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

TFrmLogin::TFrmLogin() : FormDialog(nullptr)
{
    setObjectName(QStringLiteral("FrmLogin"));
    setWindowTitle(QStringLiteral("ZEPA Login"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFixedSize(190, 157);

    JvLabel1 = new QLabel(QStringLiteral("LoginID"), this);
    JvLabel1->setObjectName(QStringLiteral("JvLabel1"));
    JvLabel1->setGeometry(8, 14, 70, 16);
    editLoginID = NewCredentialEdit(this, "editLoginID", false);
    editLoginID->setGeometry(80, 10, 100, 22);
    JvLabel2 = new QLabel(QStringLiteral("Passwort"), this);
    JvLabel2->setObjectName(QStringLiteral("JvLabel2"));
    JvLabel2->setGeometry(8, 46, 70, 16);
    editPassword = NewCredentialEdit(this, "editPassword", true);
    editPassword->setGeometry(80, 42, 100, 22);
    boxSave = new QCheckBox(QStringLiteral("Passwort merken"), this);
    boxSave->setObjectName(QStringLiteral("boxSave"));
    boxSave->setGeometry(8, 78, 172, 20);
    btnCancel =
        new QPushButton(QIcon(QStringLiteral(":/icons/cancel.svg")), QStringLiteral("Abbrechen"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(8, 120, 84, 26);
    btnCancel->setAutoDefault(false);
    btnOK = new QPushButton(QIcon(QStringLiteral(":/icons/ok.svg")), QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(98, 120, 84, 26);
    btnOK->setDefault(true);

    setTabOrder(editLoginID, editPassword);
    setTabOrder(editPassword, boxSave);
    setTabOrder(boxSave, btnCancel);
    setTabOrder(btnCancel, btnOK);

    connect(btnOK, &QPushButton::clicked, this, [this] {
        btnOKClick();
        done(1);
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] { done(2); });
}

void TFrmLogin::btnOKClick()
{
    if (!boxSave->isChecked())
        return;
    FrmSettings->editLoginID->setText(editLoginID->text());
    FrmSettings->editPassword->setText(editPassword->text());
    FrmSettings->btnOKClick();
}

void TFrmLogin::FormShow()
{
    FrmMonitor->SetTrayEnabled(false);
    if (editLoginID->text().isEmpty())
        editLoginID->setFocus();
    else
        editPassword->setFocus();
    boxSave->setChecked(false);
}

void TFrmLogin::FormHide()
{
    FrmMonitor->SetTrayEnabled(true);
}
