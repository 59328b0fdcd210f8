#pragma once
// Main window of the display-module service tool.
//
// Data flow: the register image Regs (256 words; index i is register 40001+i
// and grid row i+1) is the one copy of the device's registers. Read commands
// fill it from RBuf via Buf2Regs, write commands and the text command build
// frames in SBuf from it, the grid shows it (RefreshSG) and edits it in place
// (sgSetEditText), the repeat job watches Regs[1], the settings file saves
// and restores Regs[0..155]. SendByTCP is the one exchange: SBuf out behind a
// 4-byte count, then into RBuf the answer its header frames and its
// transaction ID matches, within 3 s; other bytes are logged and dropped. The
// exchange and the commands' rules live in the engine (src/engine), which
// works on these buffers; the methods here show its results.
//
// Frames, answers, the register map and the text rules are plain functions
// of the core library (src/core); the methods here glue them to the controls
// and the module state.
//
// Everything runs on the GUI thread; handlers run one at a time, so the
// module state below needs no locks. Every handler is entered through
// ui::Dispatch, so an exception ends the handler and shows in the caption.
#include "Config.h"
#include "RegisterMap.h"
#include "Session.h"

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QAction;
class QPushButton;
class QTimer;
class QCloseEvent;

namespace ui {
class TLabeledEdit;
class TLimitEdit;
class TMemo;
class TSpinEdit;
class TStringGrid;
} // namespace ui
namespace tcp {
class TcpClient;
}
namespace core {
struct Mbap;
struct NetSettings;
} // namespace core

class TMainForm;

// ---- module state -----------------------------------------------------------
constexpr int RegsSize = core::ImageSize;    // register image, indices 0..255
constexpr int DeviceRegs = core::DeviceRegs; // indices 0..154 exist on the device
constexpr int SavedRegs = core::SavedRegs;   // indices 0..155 go to the settings file
constexpr int BufSize = 1024;                // SBuf and RBuf

extern TMainForm *MainForm;
extern QString ProgramPath; // executable folder, ends in a separator
extern QString myCaption;
extern int32_t errorcount;
extern uint16_t Regs[RegsSize];
extern int32_t SelRow;
extern uint8_t SBuf[BufSize];
extern int32_t SendCount;
extern uint8_t RBuf[BufSize];
extern int32_t RecCount; // -1 before an exchange, 0 nothing came back
// The one client; nullptr only inside the Disconnect pause.
extern tcp::TcpClient *idTCPClient;
extern int32_t timlastsameNumber;
extern int32_t timsameNumber;
extern int32_t timCount;

// Puts the module state back to its start values (tests create windows anew).
void ResetModuleState();

// What is known of each register's word this session (MainUnitConfig.cpp).
extern core::ValueState RegStates[RegsSize];
// The tooltip line of a value state; empty for a plain word.
QString ValueStateHint(core::ValueState state);
// Marks a register pending when the handler in scope changes its word.
struct PendingOnChange {
    explicit PendingOnChange(int32_t index);
    ~PendingOnChange();
    int32_t index;
    uint16_t before;
};

enum class CloseAction { Close, Keep };

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // programPath overrides the executable's folder (tests); it must end in
    // a separator.
    explicit TMainForm(QWidget *parent = nullptr, const QString &programPath = QString());
    ~TMainForm() override;

    // The window's size as designed; the register panel on the left takes
    // its whole height.
    static constexpr QSize DesignSize{983, 779};

    // Controls, in design order.
    QGroupBox *GroupBox1;
    ui::TStringGrid *sg;
    QWidget *PanelClient;
    ui::TMemo *Memo1;
    QWidget *PanelTop;
    QGroupBox *gbClient;
    ui::TLabeledEdit *edIP;
    ui::TSpinEdit *sePort;
    QGroupBox *gbReadRegs;
    ui::TSpinEdit *edRRStart;
    ui::TSpinEdit *edRRNums;
    QPushButton *btnSendRR;
    QPushButton *btnRestartSend;
    QMenu *pmSendOneReg;
    QAction *pmSendRegister;
    QPushButton *btnReadAllRegs;
    QPushButton *btnWriteRangeRegs;
    QGroupBox *gbText;
    ui::TLimitEdit *edText;
    QPushButton *BitBtn1;
    QGroupBox *gbModbus;
    ui::TSpinEdit *seTransactionID;
    ui::TSpinEdit *seProtocolID;
    ui::TSpinEdit *seNodeID;
    QLabel *lTID;
    QLabel *lPID;
    QLabel *lNode;
    QPushButton *btnConnect;
    QPushButton *btnDisconnect;
    QGroupBox *gbFunc;
    QCheckBox *cbRepeatJob;
    QTimer *Timer1;
    QPushButton *btnRead;
    QPushButton *btnWrite;
    QLabel *labrj;

    // Shell
    void MyAppExceptionCreate(QObject *Sender);
    void MyAppException(QObject *Sender, const QString &message);
    void FormCreate(QObject *Sender);
    void FormClose(QObject *Sender, CloseAction &Action);
    void seNodeIDChange(QObject *Sender);
    void seProtocolIDChange(QObject *Sender);
    void seTransactionIDChange(QObject *Sender);

    // Settings
    void SaveIni(const QString &FName);
    void LoadIni(const QString &FName);

    // Register grid
    void Init_SG();
    void RefreshSG();
    void CreateTextFromRegs();
    void sgSelectCell(QObject *Sender, int32_t ACol, int32_t ARow, bool &CanSelect);
    void sgSetEditText(QObject *Sender, int32_t ACol, int32_t ARow, const QString &Value);

    // Connection
    void btnConnectClick(QObject *Sender);
    void btnDisconnectClick(QObject *Sender);

    // Modbus commands
    bool SendByTCP();
    void Buf2Regs(int32_t s, int32_t c);
    void ReadRangeRegisters(int32_t adr, int32_t count);
    uint16_t ReadRegister(int32_t number);
    void WriteRegister(int32_t number, int32_t value);
    void btnReadAllRegsClick(QObject *Sender);
    void btnSendRRClick(QObject *Sender);
    void btnWriteRangeRegsClick(QObject *Sender);
    void pmSendRegisterClick(QObject *Sender);
    void btnRestartSendClick(QObject *Sender);
    void btnReadClick(QObject *Sender);
    void btnWriteClick(QObject *Sender);
    void btnSendClick(QObject *Sender);

    // Repeat job
    void cbRepeatJobClick(QObject *Sender);
    void Timer1Timer(QObject *Sender);

    // Safe configuration (MainUnitConfig.cpp): value states in the grid,
    // verified writes, compare, registers as files.
    QAction *pmCompare;
    QAction *pmVerifyWrites;
    QAction *pmSaveRegs;
    QAction *pmLoadRegs;
    void CreateConfig();
    void ConfigBeforeRead();
    void ConfigAfterRead(int32_t first, int32_t count);
    // After a write's exchange; verify: read the written registers back
    // when "Verify writes" is on, or whatever it says with always. True when
    // such a read-back found every written word on the device.
    bool ConfigAfterWrite(const engine::Reply &reply, bool verify, bool always = false);
    void PaintValueStates();
    void pmCompareClick(QObject *Sender);
    void pmSaveRegsClick(QObject *Sender);
    void pmLoadRegsClick(QObject *Sender);
    bool SaveRegisters(const QString &path);
    bool LoadRegisters(const QString &path);

    // The module's network settings, 40025..40037 (MainUnitNetwork.cpp).
    QAction *pmNetwork;
    void CreateNetwork();
    void pmNetworkClick(QObject *Sender);
    // Puts the settings into the image, pending like typed values, writes
    // the thirteen registers in one function-16 request and always reads
    // them back. True when the device acknowledged and holds them.
    bool WriteNetSettings(const core::NetSettings &settings);
    // After a verified write: asks to restart the module, then follows it to
    // its new address (or back to the old one). True when it answers at
    // the new address.
    bool FollowModule(const core::NetSettings &settings);
    // A connect without boxes or log lines, within timeoutMs.
    bool ConnectQuietly(const QString &host, int32_t port, int timeoutMs);
    // The decoded settings in the tooltips of their thirteen rows.
    void ExplainNetSettings();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateControls();
    // Tooltips and accessible names; no caption changes.
    void ExplainControls();
    void WireEvents();
    // The is-connected test; no client (inside the Disconnect pause) is
    // not connected.
    bool ClientConnected();
    // The header fields of the next frame.
    core::Mbap FrameHeader() const;
    // The exchange engine over the module state (SBuf, RBuf, idTCPClient),
    // with the header fields of the next frame.
    engine::Session &Engine();
    // A write command's tail once its reply is in: redraw, marks, read-back.
    void WriteTail(const engine::Reply &reply, bool verify);

    std::unique_ptr<engine::Session> m_session;
    engine::Reply m_lastRead; // the last read command's reply: its marks follow it
    QString m_programPathOverride;
    bool m_closeSaveFailed = false; // the next close tries once more, then closes
};
