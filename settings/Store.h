#pragma once

#include "platform/DateTime.h"

#include <QByteArray>
#include <QString>
#include <utility>

// Typed values under one key of the per-user store. Reads always take a default.
inline const QString SettingsKey = QStringLiteral("Software\\ZEPA_Monitor");

qint32 ReadIntSetting(const char *name, qint32 defaultValue);
void WriteIntSetting(const char *name, qint32 value);
qint64 ReadInt64Setting(const char *name, qint64 defaultValue);
void WriteInt64Setting(const char *name, qint64 value);
TDateTime ReadDateSetting(const char *name, TDateTime defaultValue);
void WriteDateSetting(const char *name, TDateTime value);

// Returns `buffer` when it was filled: from the stored value, or from `defaultValue` when the value is
// absent. Without a default an absent value leaves `buffer` untouched and returns nullptr.
char *ReadBinarySetting(const char *name, const char *defaultValue, char *buffer, int size);
void WriteBinarySetting(const char *name, const char *buffer, int size);

void ScramblePassword(unsigned char *buffer, const unsigned char *other, int count);

// Login ID and password as Windows-1252 bytes, each at most 8 characters.
void WriteCredentials(const QByteArray &loginId, const QByteArray &password);
std::pair<QByteArray, QByteArray> ReadCredentials();
