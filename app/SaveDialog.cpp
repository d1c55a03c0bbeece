#include "app/SaveDialog.h"

#include <QFileDialog>
#include <optional>

namespace {

std::optional<QString> &nextAnswer()
{
    static std::optional<QString> answer;
    return answer;
}

} // namespace

void SaveDialogForTesting::setNextAnswer(const QString &path)
{
    nextAnswer() = path;
}

QString AskSaveFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix)
{
    if (nextAnswer()) {
        const QString answer = *nextAnswer();
        nextAnswer().reset();
        return answer;
    }
    QFileDialog dialog(parent, QStringLiteral("Speichern unter"), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}
