#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

namespace tambrel {

QTranslator* install_qt_translations(QCoreApplication& app, const QLocale& locale) {
    // Debian's qt6-translations-l10n puts them where Qt itself looks.
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    translator->setParent(&app);
    QCoreApplication::installTranslator(translator.get());
    return translator.release();
}

}  // namespace tambrel
