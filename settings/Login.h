#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for the login ID and password when a login is due and no password is stored.
class TFrmLogin : public QDialog
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
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void reject() override;

private:
    void FormShow();
    void FormHide();
};
