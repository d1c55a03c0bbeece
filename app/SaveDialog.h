#pragma once

#include <QString>

class QWidget;

// The save dialog: asks before overwriting; an empty text when the user cancels.
QString AskSaveFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix);

namespace SaveDialogForTesting {
// The next dialog answers with this path (empty: cancelled) without being shown.
void setNextAnswer(const QString &path);
} // namespace SaveDialogForTesting
