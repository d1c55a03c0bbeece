#pragma once

#include "app/FormDialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the login ID and password when a login is due and no password is stored.
class TFrmLogin : public FormDialog
{
    Q_OBJECT
public:
    TFrmLogin();

    QLabel *JvLabel1 = nullptr;
    QLabel *JvLabel2 = nullptr;
    QLineEdit *editLoginID = nullptr;
    QLineEdit *editPassword = nullptr;
    QCheckBox *boxSave = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnOK = nullptr;

    void btnOKClick();

protected:
    void FormShow() override;
    void FormHide() override;
};
