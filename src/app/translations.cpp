#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace tambrel {

namespace {

// Qt 6 asks for the file dialog's type column ("Folder", "%1 File", "Drive") under a
// context of its own that the Qt 6.4 catalogues lack; they carry the same texts under
// the file dialog's context, where Qt 5 asked for them.
class QtCatalogue : public QTranslator {
  public:
    QString translate(const char* context, const char* source, const char* disambiguation,
                      int n) const override {
        QString text = QTranslator::translate(context, source, disambiguation, n);
        if (text.isEmpty() && qstrcmp(context, "QAbstractFileIconProvider") == 0)
            text = QTranslator::translate("QFileDialog", source, disambiguation, n);
        return text;
    }
};

}  // namespace

QTranslator* install_qt_translations(QCoreApplication& app, const QLocale& locale) {
    // Debian's qt6-translations-l10n puts them where Qt itself looks.
    auto translator = std::make_unique<QtCatalogue>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    translator->setParent(&app);
    QCoreApplication::installTranslator(translator.get());
    return translator.release();
}

}  // namespace tambrel
