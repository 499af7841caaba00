#include "export/table_text.h"

namespace tambrel {

namespace {

QString csv_cell(const QString& cell) {
    const bool quote = cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('"')) ||
                       cell.contains(QLatin1Char('\n')) || cell.contains(QLatin1Char('\r')) ||
                       (!cell.isEmpty() && (cell.front().isSpace() || cell.back().isSpace()));
    if (!quote) return cell;
    QString quoted = cell;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString tab_cell(QString cell) {
    for (QChar& c : cell)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return cell;
}

template <typename Cell>
QString joined(const QStringList& cells, QChar separator, Cell&& cell) {
    QString line;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i) line += separator;
        line += cell(cells[i]);
    }
    return line;
}

}  // namespace

QByteArray csv_text(const QStringList& header, const std::vector<QStringList>& rows) {
    QString text = joined(header, QLatin1Char(','), csv_cell) + QStringLiteral("\r\n");
    for (const QStringList& row : rows)
        text += joined(row, QLatin1Char(','), csv_cell) + QStringLiteral("\r\n");
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QString tab_text(const QStringList& header, const std::vector<QStringList>& rows) {
    QString text = joined(header, QLatin1Char('\t'), tab_cell) + QLatin1Char('\n');
    for (const QStringList& row : rows)
        text += joined(row, QLatin1Char('\t'), tab_cell) + QLatin1Char('\n');
    return text;
}

}  // namespace tambrel
