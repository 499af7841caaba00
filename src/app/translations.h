#pragma once
// Qt's own texts in the desktop's language: the file dialog, the buttons of message
// boxes, the text boxes' context menus. The window's own captions are Japanese in every
// language and are not translated.

class QCoreApplication;
class QLocale;
class QTranslator;

namespace tambrel {

// Installs Qt's translations for `locale` into `app` and returns the translator, which
// `app` owns; nullptr when Qt has none for that language.
QTranslator* install_qt_translations(QCoreApplication& app, const QLocale& locale);

}  // namespace tambrel
