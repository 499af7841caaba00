#include "window/worksheet/calibration_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tambrel {

CalibrationDialog::CalibrationDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CalibrationDialog"));
    setWindowTitle(QStringLiteral("長さの基準"));
    auto* explanation =
        new QLabel(QStringLiteral("ドラッグした線の実際の長さを入力してください。\n"
                                  "x座標・ｙ座標・Δｘ・Δｙ・Δｓ がその単位で表示されます。"),
                   this);
    measured_ = new QLabel(this);
    measured_->setObjectName(QStringLiteral("measured"));
    length_box = new QDoubleSpinBox(this);
    length_box->setObjectName(QStringLiteral("length"));
    length_box->setDecimals(4);
    length_box->setRange(0.0001, 1000000.0);
    length_box->setValue(1.0);
    unit_box = new QComboBox(this);
    unit_box->setObjectName(QStringLiteral("unit"));
    unit_box->addItem(QStringLiteral("m"), int(LengthUnit::Metre));
    unit_box->addItem(QStringLiteral("cm"), int(LengthUnit::Centimetre));
    unit_box->addItem(QStringLiteral("mm"), int(LengthUnit::Millimetre));

    auto* row = new QHBoxLayout;
    row->addWidget(length_box, 1);
    row->addWidget(unit_box);
    auto* length_label = new QLabel(QStringLiteral("実際の長さ(&L):"), this);
    length_label->setBuddy(length_box);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("ドラッグした長さ:"), measured_);
    form->addRow(length_label, row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CalibrationDialog::prepare(double pixels, double length, LengthUnit unit) {
    measured_->setText(QStringLiteral("%1 画素").arg(pixels, 0, 'f', 1));
    length_box->setValue(length);
    unit_box->setCurrentIndex(unit_box->findData(int(unit)));
    length_box->setFocus();
    length_box->selectAll();
}

double CalibrationDialog::length() const { return length_box->value(); }

LengthUnit CalibrationDialog::unit() const {
    return static_cast<LengthUnit>(unit_box->currentData().toInt());
}

}  // namespace tambrel
