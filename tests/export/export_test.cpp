// Tables and pictures as they leave the tool: CSV and tab-separated text read back by
// an independent CSV parser (libcsv), pictures written by their extension.

#include <csv.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "export/picture_file.h"
#include "export/table_text.h"

namespace tambrel {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every record of `bytes` as fields, read strictly by libcsv with the given delimiter.
Rows parse(const QByteArray& bytes, unsigned char delimiter) {
    struct Sink {
        Rows rows;
        std::vector<std::string> row;
    } sink;
    csv_parser parser{};
    EXPECT_EQ(csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI), 0);
    csv_set_delim(&parser, delimiter);
    // Only blanks are space around a field: a tab is a delimiter in tab text.
    csv_set_space_func(&parser, [](unsigned char c) { return c == CSV_SPACE ? 1 : 0; });
    const auto field = [](void* text, size_t length, void* data) {
        static_cast<Sink*>(data)->row.emplace_back(static_cast<const char*>(text), length);
    };
    const auto record = [](int, void* data) {
        auto* s = static_cast<Sink*>(data);
        s->rows.push_back(std::move(s->row));
        s->row.clear();
    };
    const size_t read =
        csv_parse(&parser, bytes.constData(), size_t(bytes.size()), field, record, &sink);
    EXPECT_EQ(read, size_t(bytes.size())) << csv_strerror(csv_error(&parser));
    EXPECT_EQ(csv_fini(&parser, field, record, &sink), 0);
    csv_free(&parser);
    return sink.rows;
}

Rows expected(const QStringList& header, const std::vector<QStringList>& rows) {
    Rows out;
    const auto add = [&out](const QStringList& cells) {
        out.emplace_back();
        for (const QString& cell : cells) out.back().push_back(cell.toStdString());
    };
    add(header);
    for (const QStringList& r : rows) add(r);
    return out;
}

TEST(TableText, CsvAndTabTextRoundTripThroughACsvParser) {
    const QStringList header = {QStringLiteral("k"), QStringLiteral("時刻 t [s]"),
                                QStringLiteral("位置 x [m]"), QStringLiteral("メモ")};
    const std::vector<QStringList> rows = {
        {QStringLiteral("0"), QStringLiteral("0.4667"), QStringLiteral("0.1234"), {}},
        {QStringLiteral("1"), QStringLiteral("0.5667"), QStringLiteral("-0.0020"),
         QStringLiteral("振り子, \"左端\"")},
        {QStringLiteral("2"), {}, QStringLiteral("3"), QStringLiteral(" 余白 ")}};

    const QByteArray csv = csv_text(header, rows);
    // A byte-order mark, so a spreadsheet takes the file as UTF-8.
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(csv.endsWith("\r\n"));
    EXPECT_EQ(parse(csv.mid(3), ','), expected(header, rows));

    const QString tabs = tab_text(header, rows);
    EXPECT_EQ(tabs.section(QLatin1Char('\n'), 0, 0),
              QStringLiteral("k\t時刻 t [s]\t位置 x [m]\tメモ"));
    // Tab text has no quoting: a cell's quote marks and blanks are plain text there.
    std::vector<QStringList> plain = rows;
    plain[1][3] = QStringLiteral("振り子, 左端");
    plain[2][3] = QStringLiteral("余白");
    EXPECT_EQ(parse(tab_text(header, plain).toUtf8(), '\t'), expected(header, plain));
    // A tab or line break inside a cell cannot split it.
    EXPECT_EQ(tab_text({QStringLiteral("a\tb")}, {{QStringLiteral("c\nd")}}),
              QStringLiteral("a b\nc d\n"));
}

TEST(PictureFile, FormatFollowsTheExtensionAndAFailedWriteExplains) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage picture(366, 286, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter(&picture).fillRect(40, 30, 100, 50, QColor(200, 30, 30));

    EXPECT_EQ(picture_path(dir.filePath("a")), dir.filePath("a.png"));
    EXPECT_EQ(picture_path(dir.filePath("b.JPEG")), dir.filePath("b.JPEG"));
    EXPECT_EQ(picture_path(dir.filePath("c.gif")), dir.filePath("c.gif.png"));
    for (const char* name : {"a.png", "b.JPEG", "c.bmp"}) {
        const QString path = dir.filePath(name);
        ASSERT_FALSE(write_picture(picture, path)) << name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(4);
        const bool right_kind = QByteArray(name).endsWith("png")    ? head.startsWith("\x89PNG")
                                : QByteArray(name).endsWith("JPEG") ? head.startsWith("\xFF\xD8")
                                                                    : head.startsWith("BM");
        EXPECT_TRUE(right_kind) << name;
        const QImage back(path);
        ASSERT_EQ(back.size(), picture.size()) << name;
        const QRgb red = back.pixel(90, 55);
        EXPECT_NEAR(qRed(red), 200, 6) << name;
        EXPECT_NEAR(qGreen(red), 30, 6) << name;
    }
    EXPECT_EQ(QImage(dir.filePath("a.png")), picture.convertToFormat(QImage::Format_RGB32));

    const auto refused = write_picture(picture, dir.filePath("missing/d.png"));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->contains(dir.filePath("missing/d.png")));
    ASSERT_TRUE(write_file("old", dir.filePath("kept.csv")) == std::nullopt);
    EXPECT_TRUE(write_file("new", dir.filePath("missing/kept.csv")).has_value());
}

}  // namespace
}  // namespace tambrel
