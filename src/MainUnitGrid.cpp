// Register grid: the register map, the redraw from Regs and in-place editing.
#include "Edits.h"
#include "IntText.h"
#include "Logic.h"
#include "MainUnit.h"
#include "StringGrid.h"

#include <stdexcept>

namespace {
constexpr int ValueCol = 2;
constexpr int LastRow = DeviceRegs; // grid rows 1..155
} // namespace

void TMainForm::Init_SG() {
    sg->SetCell(0, 0, QStringLiteral("L.p."));
    sg->SetCell(1, 0, QStringLiteral("Funkcja"));
    sg->SetCell(2, 0, QStringLiteral("Warto\u015B\u0107"));
    // Every redraw rewrites the map; its texts are made once.
    struct Map {
        QStringList names, numbers;
        Map() {
            for (int row = 1; row <= LastRow; ++row) {
                names << logic::RegisterName(row);
                numbers << QString::number(40000 + row);
            }
        }
    };
    static const Map map;
    for (int row = 1; row <= LastRow; ++row)
        sg->SetCell(1, row, map.names[row - 1]);
    for (int row = 1; row <= LastRow; ++row)
        sg->SetCell(0, row, map.numbers[row - 1]);
}

void TMainForm::RefreshSG() {
    Init_SG();
    // Every value cell gets its final text in one write (empty where nothing
    // is shown), so an unchanged row costs no repaint.
    for (int row = 1; row <= 55; ++row) {
        QString text;
        if (row == 24)
            text = logic::VersionText(Regs[logic::VersionIndex]);
        else if (row <= 41 || row >= 51)
            text = QString::number(Regs[row - 1]);
        // Rows 42 to 50 are unassigned and stay empty.
        sg->SetCell(ValueCol, row, text);
    }
    // The length row shows what the device sent; the image keeps at most 100.
    if (Regs[logic::TextLength] > logic::MaxTextLength)
        Regs[logic::TextLength] = logic::MaxTextLength;
    const int lastCharRow = 56 + Regs[logic::TextLength];
    for (int row = 56; row <= LastRow; ++row)
        sg->SetCell(ValueCol, row,
                    row <= lastCharRow ? QString(QChar(char16_t(Regs[row - 1]))) : QString());
    CreateTextFromRegs();
}

void TMainForm::CreateTextFromRegs() {
    const QString text = logic::TextFromRegs(Regs);
    if (edText->text() != text)
        edText->setText(text);
}

void TMainForm::sgSelectCell(QObject *, int32_t, int32_t ARow, bool &) {
    SelRow = ARow;
}

void TMainForm::sgSetEditText(QObject *, int32_t, int32_t ARow, const QString &Value) {
    if (ARow < 1 || ARow > LastRow)
        return;
    const int index = ARow - 1;
    if (ARow > 55) {
        const QString c = logic::CharCellText(Value);
        if (!c.isEmpty())
            Regs[index] = uint16_t(c.front().unicode() & 0xFF);
        sg->SetCell(ValueCol, ARow, c);
        return;
    }
    if (!logic::DigitsOnly(Value))
        sg->SetCell(ValueCol, ARow, QStringLiteral("0"));
    const QString cell = sg->Cell(ValueCol, ARow);
    if (cell.isEmpty()) {
        Regs[index] = 0;
        return;
    }
    int32_t v = 0;
    if (!ui::TryStrToInt(cell, v))
        throw std::runtime_error(
            QStringLiteral("'%1' is not a valid integer value").arg(cell).toStdString());
    Regs[index] = uint16_t(uint32_t(v) & 0xFFFF);
}
