#pragma once

#include <QByteArray>
#include <QString>

// Texts that cross the network or the store are Windows-1252 bytes; Unicode is only for showing.
namespace Text {

QString fromCp1252(const QByteArray &bytes);
// Characters that Windows-1252 cannot hold become '?'.
QByteArray toCp1252(const QString &text);
bool isCp1252(QChar c);
bool isCp1252(const QString &text);

// Cuts a zero-terminated fixed field: at the first zero byte and at most `size - 1` bytes.
QByteArray fixedField(const QByteArray &text, int size = 32);

} // namespace Text
