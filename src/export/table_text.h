#pragma once
// A table as text for other programs: CSV for files (UTF-8 with a byte-order mark, so
// a spreadsheet reads Japanese headers as such; CRLF rows; RFC 4180 quoting) and
// tab-separated text for the clipboard (pastes into a spreadsheet as columns).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace tambrel {

QByteArray csv_text(const QStringList& header, const std::vector<QStringList>& rows);

// Header row, then rows; cells separated by tabs, rows ended by a line feed. A tab or
// line break inside a cell would split it, so it becomes a blank.
QString tab_text(const QStringList& header, const std::vector<QStringList>& rows);

}  // namespace tambrel
