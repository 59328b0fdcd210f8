// Register grid: the register map, the redraw from Regs and in-place editing.
#include "MainUnit.h"
#include "Edits.h"
#include "IntText.h"
#include "Logic.h"
#include "StringGrid.h"

#include <stdexcept>

namespace {
constexpr int ValueCol = 2;
constexpr int LastRow = DeviceRegs; // grid rows 1..155
} // namespace

void TMainForm::Init_SG()
{
    sg->SetCell(0, 0, QStringLiteral("L.p."));
    sg->SetCell(1, 0, QStringLiteral("Funkcja"));
    sg->SetCell(2, 0, QStringLiteral("Warto\u015B\u0107"));
    for (int row = 1; row <= LastRow; ++row)
        sg->SetCell(1, row, logic::RegisterName(row));
    for (int row = 1; row <= LastRow; ++row)
        sg->SetCell(0, row, QString::number(40000 + row));
}

void TMainForm::RefreshSG()
{
    Init_SG();
    for (int row = 1; row <= LastRow; ++row)
        sg->SetCell(ValueCol, row, QString());
    for (int row = 1; row <= 41; ++row) {
        if (row == 24)
            sg->SetCell(ValueCol, row, logic::VersionText(Regs[logic::VersionIndex]));
        else
            sg->SetCell(ValueCol, row, QString::number(Regs[row - 1]));
    }
    // Rows 42 to 50 are unassigned and stay empty.
    for (int row = 51; row <= 55; ++row)
        sg->SetCell(ValueCol, row, QString::number(Regs[row - 1]));
    if (Regs[logic::TextLength] > logic::MaxTextLength)
        Regs[logic::TextLength] = logic::MaxTextLength;
    for (int i = 0; i <= Regs[logic::TextLength]; ++i) {
        const int row = 56 + i;
        if (row > LastRow)
            break; // index 155 has no row
        sg->SetCell(ValueCol, row, QString(QChar(char16_t(Regs[logic::TextStart + i]))));
    }
    CreateTextFromRegs();
}

void TMainForm::CreateTextFromRegs() { edText->setText(logic::TextFromRegs(Regs)); }

void TMainForm::sgSelectCell(QObject *, int32_t, int32_t ARow, bool &) { SelRow = ARow; }

void TMainForm::sgSetEditText(QObject *, int32_t, int32_t ARow, const QString &Value)
{
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
