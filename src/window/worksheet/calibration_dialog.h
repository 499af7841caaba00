#pragma once
// The dialog that takes the length of the segment just dragged on the composite.

#include <QDialog>

#include "measure/calibration.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;

namespace tambrel {

class CalibrationDialog : public QDialog {
    Q_OBJECT
public:
    explicit CalibrationDialog(QWidget* parent);

    // Prepares the dialog for a segment of `pixels` shown pixels.
    void prepare(double pixels, double length, LengthUnit unit);
    double length() const;
    LengthUnit unit() const;

    QDoubleSpinBox* length_box;
    QComboBox* unit_box;

private:
    QLabel* measured_;
};

}  // namespace tambrel
