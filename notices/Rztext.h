#pragma once

#include <QByteArray>
#include <QWidget>

class QPlainTextEdit;
class QPushButton;
class QTimer;

// The computing centre's notice: fetched at start and every hour, announced when unseen.
class TFrmRZText : public QWidget
{
    Q_OBJECT
public:
    TFrmRZText();

    QPlainTextEdit *eText = nullptr;
    QPushButton *btnReload = nullptr;
    QPushButton *btnClose = nullptr;
    QPushButton *btnSave = nullptr;
    QTimer *tRZText = nullptr;

    // The last fetch's result: the page as received, or "Fehler:\n\n" and the error text.
    QByteArray NoticeText;

    QByteArray FetchNotice();
    bool IsNewNotice() const;
    void tRZTextTimer();
    void btnReloadClick();
    void btnSaveClick();
    void btnCloseClick();

    // Shows the window with the notice fetched last.
    void ShowNotice();
    // Once all six forms exist: the first check, then every hour.
    void CheckAtStart();
    void StopTimers();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
};
