#pragma once

#include <QDialog>
#include <QShowEvent>

// A modal form: its show and hide handlers run whenever the program shows or hides it, and every way of
// cancelling (button, Escape, close box) ends it with the modal result 2.
class FormDialog : public QDialog
{
public:
    using QDialog::QDialog;

protected:
    virtual void FormShow() {}
    virtual void FormHide() {}

    void showEvent(QShowEvent *event) override
    {
        QDialog::showEvent(event);
        if (!event->spontaneous())
            FormShow();
    }

    void hideEvent(QHideEvent *event) override
    {
        QDialog::hideEvent(event);
        if (!event->spontaneous())
            FormHide();
    }

    void reject() override { done(2); }
};
