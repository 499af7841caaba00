#pragma once
// The window with its worksheet, driven as a user would: composition runs stopped after
// a number of cycles, clicks and drags on the composite, a calibration typed into the
// dialog, the table as the clipboard receives it. Behind it a fake or the real media
// service.

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QtTest>
#include <vector>

#include "window/worksheet/calibration_dialog.h"
#include "window/worksheet/worksheet.h"
#include "support/mouse.h"
#include "support/form_fixture.h"

namespace tambrel::testing {

template <typename Service = FakeMediaService>
struct WorksheetFixture : FormFixture<Service> {
    using FormFixture<Service>::form;
    using FormFixture<Service>::platform;

    WorksheetFixture() {
        platform.ms_per_read = 50;  // the paced steps' busy-wait ends
    }

    Worksheet& ws() { return *form->worksheet(); }
    QWidget* composite() { return form->Picture3->client(); }

    // A run with `steps` frames per step, stopped after `cycles` cycles (the seed, when
    // the composite is empty, and cycles - 1 merges).
    void run(int steps, int cycles) {
        const int base = platform.yields;
        platform.on_yield = [this, base, cycles](int yield) {
            if (yield - base == cycles) form->Cmdgouseistop_Click();
        };
        form->Text6->setText(QString::number(steps));
        form->CmdGosei_Click();
        platform.on_yield = {};
    }

    void click(QPointF at) {
        press(composite(), at);
        release(composite(), at);
    }
    void drag(QPointF from, QPointF to) {
        press(composite(), from);
        move(composite(), (from + to) / 2, Qt::LeftButton);
        move(composite(), to, Qt::LeftButton);
        release(composite(), to);
    }

    // 測定 › 長さの基準: a drag from `from` to `to` (Picture3 pixels) called `metres` long.
    bool calibrate(QPointF from, QPointF to, double metres) {
        ws().mnucalibrate->trigger();
        drag(from, to);
        CalibrationDialog* dialog = ws().calibration_dialog();
        if (!dialog->isVisible()) return false;
        dialog->length_box->setValue(metres);
        dialog->accept();
        return ws().calibration().calibrated();
    }

    // The table as 表をコピー puts it on the clipboard: the header, then rows of cells.
    std::vector<QStringList> copied_table() {
        ws().copy_table();
        std::vector<QStringList> rows;
        if (!platform.clipboard_text) return rows;
        for (const QString& line : platform.clipboard_text->split(QLatin1Char('\n')))
            if (!line.isEmpty()) rows.push_back(line.split(QLatin1Char('\t')));
        return rows;
    }
};

}  // namespace tambrel::testing
