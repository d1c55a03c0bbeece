#pragma once

#include "app/FormDialog.h"
#include <QValidator>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Accepts only what the store's Windows-1252 credential blocks can hold.
class Cp1252Validator : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override;
};

// An edit field for a login ID or password: at most 8 Windows-1252 characters.
QLineEdit *NewCredentialEdit(QWidget *parent, const char *name, bool masked);

// The settings dialog; its controls are the settings in memory.
class TFrmSettings : public FormDialog
{
    Q_OBJECT
public:
    TFrmSettings();

    QLabel *JvLabel1 = nullptr;
    QLabel *JvLabel2 = nullptr;
    QLineEdit *editLoginID = nullptr;
    QLineEdit *editPassword = nullptr;
    QCheckBox *boxAutoStart = nullptr;
    QCheckBox *boxAutoLogin = nullptr;
    QCheckBox *boxAutoLogout = nullptr;
    QCheckBox *boxKeepAlive = nullptr;
    QCheckBox *boxAutoRZText = nullptr;
    QPushButton *btnOK = nullptr;
    QPushButton *btnCancel = nullptr;

    void LoadSettings();
    void btnOKClick();
    // Once all six forms exist: the stored settings reach the monitor, with the start-up login.
    void ApplyAtStart();

protected:
    void FormShow() override;
    void FormHide() override;
};
