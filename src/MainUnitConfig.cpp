// Safe configuration: the value states in the grid, verified writes,
// "Compare with device" and registers saved to and loaded from files. The
// rules are core::Config's; here they meet the image, the log and the grid.
#include "Answer.h"
#include "Config.h"
#include "Dispatch.h"
#include "MainUnit.h"
#include "Memo.h"
#include "MessageBox.h"
#include "Modbus.h"
#include "SaveFile.h"
#include "StringGrid.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>
#include <algorithm>

core::ValueState RegStates[RegsSize];

namespace {

constexpr int ValueCol = 2;
uint16_t BeforeRead[RegsSize]; // the image as a read found it

std::span<const uint8_t> Request() {
    return {SBuf, size_t(std::clamp(SendCount, 0, BufSize))};
}

// Okabe-Ito hues, told apart by dichromats, and each look's three fills far
// apart in lightness as well, so that they differ even without colour.
struct Look {
    ui::TStringGrid::CellColours changed, pending, differs;
};
Look LookFor(const QPalette &palette) {
    if (palette.color(QPalette::Base).lightness() < 128) // a dark look (Onyx Blue)
        return {{QColor::fromRgb(QRgb(0x56B4E9)), QColor::fromRgb(QRgb(0x0B1620))},
                {QColor::fromRgb(QRgb(0xF0E442)), QColor::fromRgb(QRgb(0x1D2530))},
                {QColor::fromRgb(QRgb(0xD55E00)), QColor::fromRgb(QRgb(0x000000))}};
    return {{QColor::fromRgb(QRgb(0xC6E6FA)), QColor::fromRgb(QRgb(0x000000))},
            {QColor::fromRgb(QRgb(0xE69F00)), QColor::fromRgb(QRgb(0x000000))},
            {QColor::fromRgb(QRgb(0xA84300)), QColor::fromRgb(QRgb(0xFFFFFF))}};
}

} // namespace

QString ValueStateHint(core::ValueState state) {
    switch (state) {
    case core::ValueState::Changed:
        return QStringLiteral("Changed by the last read: the device sent another value than "
                              "the grid held");
    case core::ValueState::Pending:
        return QStringLiteral("Pending: typed or loaded, not yet written to the device");
    case core::ValueState::Differs:
        return QStringLiteral("Differs from the device: a compare or a verified write found "
                              "another value there");
    case core::ValueState::Plain:
        break;
    }
    return QString();
}

namespace {

QString FileName(const QString &path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

PendingOnChange::PendingOnChange(int32_t i)
    : index(i), before(i >= 0 && i < RegsSize ? Regs[i] : 0) {}

PendingOnChange::~PendingOnChange() {
    if (index < 0 || index >= RegsSize || Regs[index] == before)
        return;
    core::MarkEdited(RegStates, index, before, Regs[index]);
    if (MainForm)
        MainForm->PaintValueStates();
}

void TMainForm::CreateConfig() {
    std::fill(std::begin(RegStates), std::end(RegStates), core::ValueState::Plain);

    pmSendOneReg->addSeparator();
    pmCompare = pmSendOneReg->addAction(QStringLiteral("Compare with device"));
    pmVerifyWrites = pmSendOneReg->addAction(QStringLiteral("Verify writes"));
    pmVerifyWrites->setCheckable(true);
    pmSendOneReg->addSeparator();
    pmSaveRegs = pmSendOneReg->addAction(QStringLiteral("Save registers as..."));
    pmLoadRegs = pmSendOneReg->addAction(QStringLiteral("Load registers..."));
    pmCompare->setObjectName(QStringLiteral("pmCompare"));
    pmVerifyWrites->setObjectName(QStringLiteral("pmVerifyWrites"));
    pmSaveRegs->setObjectName(QStringLiteral("pmSaveRegs"));
    pmLoadRegs->setObjectName(QStringLiteral("pmLoadRegs"));

    pmCompare->setToolTip(QStringLiteral("Function 3: reads 40001 to 40255 and marks every "
                                         "register where the device differs from the grid; "
                                         "the grid keeps its values"));
    pmVerifyWrites->setToolTip(QStringLiteral("After every acknowledged write of a range, a "
                                              "register or the text, reads the written "
                                              "registers back and says whether they took"));
    pmSaveRegs->setToolTip(QStringLiteral("Writes the grid's 155 registers to a CSV file"));
    pmLoadRegs->setToolTip(QStringLiteral("Reads registers from a CSV file or the [REG] section "
                                          "of a Tavrin.ini into the grid, marked pending; "
                                          "nothing is written to the device"));
    sg->SetCellHint(ValueCol, 0,
                    QStringLiteral("Value colours: light blue, changed by the last read; "
                                   "orange (yellow in Onyx Blue), pending: typed or loaded, "
                                   "not yet written; dark orange-red, differs from the device "
                                   "(Compare with device, Verify writes); no colour otherwise"));

    connect(pmCompare, &QAction::triggered, this,
            ui::Guarded([this] { pmCompareClick(pmCompare); }));
    connect(pmSaveRegs, &QAction::triggered, this,
            ui::Guarded([this] { pmSaveRegsClick(pmSaveRegs); }));
    connect(pmLoadRegs, &QAction::triggered, this,
            ui::Guarded([this] { pmLoadRegsClick(pmLoadRegs); }));
}

void TMainForm::PaintValueStates() {
    const Look look = LookFor(sg->palette());
    for (int index = 0; index < DeviceRegs; ++index) {
        const core::ValueState state = RegStates[index];
        ui::TStringGrid::CellColours c;
        if (state == core::ValueState::Changed)
            c = look.changed;
        else if (state == core::ValueState::Pending)
            c = look.pending;
        else if (state == core::ValueState::Differs)
            c = look.differs;
        sg->SetCellColours(ValueCol, index + 1, c);
        sg->SetCellHint(ValueCol, index + 1, ValueStateHint(state));
    }
    ExplainNetSettings();
}

void TMainForm::ConfigBeforeRead() {
    std::copy(std::begin(Regs), std::end(Regs), std::begin(BeforeRead));
}

void TMainForm::ConfigAfterRead(int32_t first, int32_t) {
    if (RecCount <= 0 || first < 0 || first >= RegsSize)
        return;
    // Only what the read took into the image: a refused or incomplete answer
    // changes no mark (a pending word stays pending).
    if (!m_lastRead.Ok())
        return;
    const int taken = std::min(m_lastRead.check.registers, RegsSize - first);
    core::MarkRead(RegStates, BeforeRead, first, {Regs + first, size_t(taken)});
    PaintValueStates();
}

bool TMainForm::ConfigAfterWrite(const engine::Reply &reply, bool verify, bool always) {
    core::Written written;
    if (!reply.acknowledged || !core::WrittenRegisters(Request(), written))
        return false;
    core::MarkWritten(RegStates, written.first, int(written.words.size()));
    PaintValueStates();
    if (!verify || (!always && !pmVerifyWrites->isChecked()))
        return false;
    // One read of the written registers, beside the image.
    const engine::ReadAside back = Engine().Verify(written);
    if (back.exchange.Answered())
        RefreshSG();
    if (!back.words.words.isEmpty()) {
        core::MarkCompared(RegStates, Regs, written.first, back.words.words);
        PaintValueStates();
    }
    return !back.words.words.isEmpty() && back.words.words == written.words;
}

void TMainForm::pmCompareClick(QObject *) {
    QList<int> differing;
    const engine::ReadAside device = Engine().Compare(Regs, differing);
    if (device.exchange.Answered())
        RefreshSG();
    if (!device.exchange.sent || !device.words.failure.isEmpty())
        return; // not connected, or the log has said why
    core::MarkCompared(RegStates, Regs, 0, device.words.words);
    PaintValueStates();
}

namespace {
QString &ConfigFolder() {
    static QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return folder;
}
} // namespace

void TMainForm::pmSaveRegsClick(QObject *) {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save registers as"),
        QDir(ConfigFolder()).filePath(QStringLiteral("Tavrin-registers.csv")),
        QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    ConfigFolder() = QFileInfo(path).absolutePath();
    SaveRegisters(path);
}

void TMainForm::pmLoadRegsClick(QObject *) {
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Load registers"), ConfigFolder(),
                                     QStringLiteral("Register files (*.csv *.ini);;All files (*)"));
    if (path.isEmpty())
        return;
    ConfigFolder() = QFileInfo(path).absolutePath();
    LoadRegisters(path);
}

bool TMainForm::SaveRegisters(const QString &path) {
    const QString why = core::SaveBytes(path, core::RegistersCsv(Regs));
    if (!why.isEmpty()) {
        ui::ShowErrorMessage(
            QStringLiteral("Unable to save the registers to %1: %2").arg(FileName(path), why));
        return false;
    }
    Memo1->AddLine(
        QStringLiteral("Saved %1 to %2.").arg(core::Registers(DeviceRegs), FileName(path)));
    return true;
}

bool TMainForm::LoadRegisters(const QString &path) {
    const core::ConfigFile config = core::ReadConfigFile(path);
    if (!config.ok) {
        // In the log as well: the box is gone once answered.
        const QString refusal = core::ConfigRefusal(config, FileName(path));
        Memo1->AddLine(refusal);
        ui::ShowErrorMessage(refusal);
        return false;
    }
    int changed = 0;
    for (int i = 0; i < DeviceRegs; ++i) {
        if (!config.given[i] || Regs[i] == config.values[i])
            continue;
        core::MarkEdited(RegStates, i, Regs[i], config.values[i]);
        Regs[i] = config.values[i];
        ++changed;
    }
    RefreshSG();
    PaintValueStates();
    Memo1->AddLine(QStringLiteral("Loaded %1 from %2: %3 changed, pending until written.")
                       .arg(core::Registers(config.count), FileName(path))
                       .arg(changed));
    return true;
}
