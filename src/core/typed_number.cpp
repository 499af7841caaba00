#include "core/typed_number.h"

namespace tambrel {

std::string typed_number_text(const QString& typed) {
    QString text = typed.normalized(QString::NormalizationForm_KC);
    text.replace(QChar(0x2212), QLatin1Char('-'));
    return text.toStdString();
}

}  // namespace tambrel
