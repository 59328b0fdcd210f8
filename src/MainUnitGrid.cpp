// Register grid: the register map, the redraw from Regs and in-place editing.
#include "Edits.h"
#include "IntText.h"
#include "MainUnit.h"
#include "RegisterMap.h"
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
                names << core::RegisterName(row);
                numbers << QString::number(core::FirstNumber - 1 + row);
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
    for (int index = 0; index < core::TextStart; ++index) {
        QString text;
        if (index == core::VersionIndex)
            text = core::VersionText(Regs[index]);
        else if (index < core::FirstEmptyIndex || index > core::LastEmptyIndex)
            text = QString::number(Regs[index]);
        sg->SetCell(ValueCol, index + 1, text);
    }
    // The length row shows what the device sent; the image keeps at most 100.
    if (Regs[core::TextLength] > core::MaxTextLength)
        Regs[core::TextLength] = core::MaxTextLength;
    // The characters and the register after them (the ending zero).
    const int lastCharIndex = core::TextStart + Regs[core::TextLength];
    for (int index = core::TextStart; index < DeviceRegs; ++index)
        sg->SetCell(ValueCol, index + 1,
                    index <= lastCharIndex ? QString(QChar(char16_t(Regs[index]))) : QString());
    ExplainNetSettings();
    CreateTextFromRegs();
}

void TMainForm::CreateTextFromRegs() {
    // A text the operator is typing stays until it is sent or the focus
    // moves on: the field holds the window's focus and was changed since the
    // program last set it. The window's focus, not the application's, so
    // that switching to another program and back keeps the typing too.
    if (focusWidget() == edText && edText->isModified())
        return;
    const QString text = core::TextFromRegs(Regs);
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
    const PendingOnChange mark(index);
    if (index >= core::TextStart) {
        const QString c = core::CharCellText(Value);
        if (!c.isEmpty())
            Regs[index] = uint16_t(c.front().unicode() & 0xFF);
        sg->SetCell(ValueCol, ARow, c);
        return;
    }
    if (!core::DigitsOnly(Value))
        sg->SetCell(ValueCol, ARow, QStringLiteral("0"));
    const QString cell = sg->Cell(ValueCol, ARow);
    if (cell.isEmpty()) {
        Regs[index] = 0;
        return;
    }
    int32_t v = 0;
    if (!core::TryStrToInt(cell, v))
        throw std::runtime_error(
            QStringLiteral("'%1' is not a valid integer value").arg(cell).toStdString());
    Regs[index] = uint16_t(uint32_t(v) & 0xFFFF);
}
