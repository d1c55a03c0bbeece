#pragma once

#include <QString>

// The megabyte text of a byte count with a point as decimal separator, whatever the locale.
QString FormatMegabytes(qint64 bytes);

namespace Limits {
inline constexpr double BytesPerMB = 1048576.0;
} // namespace Limits
