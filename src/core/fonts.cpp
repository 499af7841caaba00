#include "core/fonts.h"

namespace tambrel {

namespace {
void map_design_face() {
    static const bool once = [] {
        QFont::insertSubstitution(kDesignFace, kInstalledFace);
        return true;
    }();
    (void)once;
}
}  // namespace

QFont default_ui_font() {
    QFont f(kInstalledFace);
    f.setPointSizeF(9);
    return f;
}

QFont design_font(double points) {
    map_design_face();
    QFont f(kDesignFace);
    f.setPointSizeF(points);
    f.setWeight(QFont::Normal);
    return f;
}

}  // namespace tambrel
