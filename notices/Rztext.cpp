#include "notices/Rztext.h"

#include "access/Http.h"
#include "app/Application.h"
#include "app/FormDialog.h"
#include "app/Monitor.h"
#include "app/SaveDialog.h"
#include "app/Text.h"
#include "campus/Campus.h"
#include "settings/Settings.h"
#include "settings/Store.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr const char *Marker = " RZTEXT";
constexpr int SeenSize = 32;

QByteArray seenBlock(const QByteArray &text)
{
    QByteArray block = text.left(SeenSize);
    block.append(QByteArray(SeenSize - block.size(), '\0'));
    return block;
}

} // namespace

TFrmRZText::TFrmRZText() : QWidget(nullptr)
{
    setObjectName(QStringLiteral("FrmRZText"));
    setWindowTitle(QStringLiteral("RZ Mitteilung (RZText)"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    resize(588, 427);
    CentreOnScreen(this);

    eText = new QPlainTextEdit(this);
    eText->setObjectName(QStringLiteral("eText"));
    eText->setReadOnly(true);
    eText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont fixed(QStringLiteral("Lucida Console"));
    fixed.setStyleHint(QFont::Monospace);
    fixed.setPixelSize(12);
    eText->setFont(fixed);
    btnReload = new QPushButton(QStringLiteral("Aktualisieren"), this);
    btnReload->setObjectName(QStringLiteral("btnReload"));
    btnSave = new QPushButton(QStringLiteral("Speichern"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnClose = new QPushButton(QStringLiteral("OK"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnReload);
    buttons->addWidget(btnSave);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(eText);
    layout->addLayout(buttons);
    setTabOrder(eText, btnReload);
    setTabOrder(btnReload, btnClose);
    setTabOrder(btnClose, btnSave);

    connect(btnReload, &QPushButton::clicked, this, &TFrmRZText::btnReloadClick);
    connect(btnSave, &QPushButton::clicked, this, &TFrmRZText::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &TFrmRZText::btnCloseClick);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &TFrmRZText::btnCloseClick);

    tRZText = new QTimer(this);
    tRZText->setObjectName(QStringLiteral("tRZText"));
    tRZText->setInterval(3600000);
    connect(tRZText, &QTimer::timeout, this, &TFrmRZText::tRZTextTimer);
}

QByteArray TFrmRZText::FetchNotice()
{
    // Disabled while the exchange pumps events, so this window cannot start a second fetch.
    setEnabled(false);
    btnReload->setEnabled(false);
    btnSave->setEnabled(false);
    btnClose->setEnabled(false);
    NoticeText.clear();
    const HttpResult result = HttpRequest(Campus::NoticeURL);
    if (result.outcome == HttpOutcome::Completed)
        NoticeText = LoginAnswer;
    else if (result.outcome == HttpOutcome::Failed)
        NoticeText = "Fehler:\n\n" + result.error;
    btnClose->setEnabled(true);
    btnSave->setEnabled(true);
    btnReload->setEnabled(true);
    setEnabled(true);
    return NoticeText;
}

bool TFrmRZText::IsNewNotice() const
{
    if (!NoticeText.startsWith(Marker))
        return false;
    char stored[SeenSize + 1] = {};
    if (!ReadBinarySetting("last_rztext", nullptr, stored, SeenSize))
        return true;
    const QByteArray current = seenBlock(NoticeText);
    return qstrcmp(stored, current.constData()) != 0;
}

void TFrmRZText::tRZTextTimer()
{
    if (!FrmSettings->boxAutoRZText->isChecked())
        return;
    FetchNotice();
    if (IsNewNotice())
        FrmMonitor->ShowBalloon(
            1, QStringLiteral("RZText"),
            QStringLiteral("Es gibt eine neue RZ Mitteilung.\nBitte hier klicken um es zu lesen."));
}

void TFrmRZText::CheckAtStart()
{
    tRZText->start();
    tRZTextTimer();
}

void TFrmRZText::StopTimers()
{
    tRZText->stop();
}

void TFrmRZText::ShowNotice()
{
    show();
    raise();
    activateWindow();
}

void TFrmRZText::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFrmRZText::FormShow()
{
    eText->clear();
    eText->setPlainText(Text::fromCp1252(NoticeText));
    eText->moveCursor(QTextCursor::Start);
    btnClose->setFocus();
    if (NoticeText.startsWith(Marker)) {
        const QByteArray block = seenBlock(NoticeText);
        WriteBinarySetting("last_rztext", block.constData(), SeenSize);
    }
}

void TFrmRZText::btnReloadClick()
{
    eText->clear();
    eText->setPlainText(Text::fromCp1252(FetchNotice()));
}

void TFrmRZText::btnSaveClick()
{
    const QString path = AskSaveFileName(this, QStringLiteral("Text Datei (*.txt)"), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    // The desktop's encoding, the lines as shown.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(eText->toPlainText().toUtf8() + '\n') < 0 ||
        !file.commit())
        Application::showException(QStringLiteral("Die Datei »%1« konnte nicht gespeichert werden: %2")
                                       .arg(path, file.errorString()));
}

void TFrmRZText::btnCloseClick()
{
    hide();
}
