#pragma once
// The window's fonts. The design names a Japanese proportional Gothic face that Linux
// desktops lack; it is mapped to an installed one so the Japanese text renders.

#include <QFont>
#include <QString>

namespace tambrel {

inline const QString kDesignFace = QStringLiteral("ＭＳ Ｐゴシック");
inline const QString kInstalledFace = QStringLiteral("IPAPGothic");

// The face the controls without an explicit font use, and that pictures print in.
QFont default_ui_font();
// The design face at the given size (the few controls with an explicit font).
QFont design_font(double points);

}  // namespace tambrel
