#pragma once

#include <QDialog>
#include <QScreen>
#include <QShowEvent>

// Forms that the desktop would otherwise put in a corner start in the middle of the screen.
inline void CentreOnScreen(QWidget *form)
{
    if (const QScreen *screen = form->screen())
        form->move(screen->availableGeometry().center() - form->rect().center());
}

// A modal form: its show and hide handlers run whenever the program shows or hides it, and every way of
// cancelling (button, Escape, close box) ends it with the modal result 2.
class FormDialog : public QDialog
{
public:
    explicit FormDialog(QWidget *parent = nullptr) : QDialog(parent) {}

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
