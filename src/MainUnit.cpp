// Application shell: the window's controls, start-up, close and the caption
// error display.
#include "MainUnit.h"
#include "Dispatch.h"
#include "Edits.h"
#include "Hex.h"
#include "Memo.h"
#include "StringGrid.h"
#include "Style.h"
#include "TcpClient.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <exception>
#include <utility>

TMainForm *MainForm = nullptr;
QString ProgramPath;
QString myCaption;
int32_t errorcount = 1;
uint16_t Regs[RegsSize] = {};
int32_t SelRow = 1;
uint8_t SBuf[BufSize] = {};
int32_t SendCount = 0;
uint8_t RBuf[BufSize] = {};
int32_t RecCount = 0;
tcp::TcpClient *idTCPClient = nullptr;
int32_t timlastsameNumber = 0;
int32_t timsameNumber = 0;
int32_t timCount = 0;

void ResetModuleState() {
    delete idTCPClient;
    idTCPClient = nullptr;
    ProgramPath.clear();
    myCaption.clear();
    errorcount = 1;
    std::fill(std::begin(Regs), std::end(Regs), uint16_t(0));
    SelRow = 1;
    std::fill(std::begin(SBuf), std::end(SBuf), uint8_t(0));
    std::fill(std::begin(RBuf), std::end(RBuf), uint8_t(0));
    SendCount = 0;
    RecCount = 0;
    timlastsameNumber = timsameNumber = timCount = 0;
}

namespace {

QFont DesignFont() {
    QFont f;
    f.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans Condensed"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11); // 8 pt at 96 dpi
    // Plain glyph advances, as classic desktop controls draw Latin text:
    // no kerning, no shaping (which is most of the cost of every field's
    // text layout, and every exchange rewrites a field and a label).
    f.setStyleStrategy(QFont::PreferNoShaping);
    f.setKerning(false);
    return f;
}

// Keeps a child at its design place and width inside its parent, a panel of
// the window's full height, taking that height less the design margins (a
// group box's own layout margins depend on the style).
class DockLeftFull : public QObject {
public:
    DockLeftFull(QWidget *child, const QRect &design)
        : QObject(child), m_child(child), m_top(design.top()), m_left(design.left()),
          m_width(design.width()), m_bottom(TMainForm::DesignSize.height() - design.bottom() - 1) {
        child->parentWidget()->installEventFilter(this);
        child->setGeometry(design);
    }
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Resize) {
            const int h = m_child->parentWidget()->height() - m_top - m_bottom;
            m_child->setGeometry(m_left, m_top, m_width, qMax(0, h));
        }
        return false;
    }

private:
    QWidget *m_child;
    int m_top, m_left, m_width, m_bottom;
};

QGroupBox *Group(const QString &caption, QWidget *parent, int x, int y, int w, int h) {
    auto *g = new QGroupBox(caption, parent);
    g->setGeometry(x, y, w, h);
    return g;
}

QPushButton *Button(const QString &caption, QWidget *parent, int x, int y, int w, int h) {
    auto *b = new ui::TButton(caption, parent);
    b->setGeometry(x, y, w, h);
    b->setAutoDefault(false);
    return b;
}

ui::TSpinEdit *Spin(const QString &caption, QWidget *parent, int x, int y, int w, int h,
                    int32_t value, int32_t lo, int32_t hi, int limit) {
    auto *s = new ui::TSpinEdit(parent);
    s->setGeometry(x, y, w, h);
    s->SetRange(lo, hi);
    s->SetTypingLimit(limit);
    s->SetValue(value);
    ui::AttachLabel(s, caption);
    return s;
}

QLabel *Label(const QString &text, QWidget *parent, int x, int y) {
    auto *l = new QLabel(text, parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

} // namespace

TMainForm::TMainForm(QWidget *parent, const QString &programPath)
    : QMainWindow(parent), m_programPathOverride(programPath) {
    MainForm = this;
    // Errors before the caption display is installed go to the standard box.
    ui::SetErrorHandler(nullptr);
    CreateControls();
    WireEvents();
    CreateConfig();
    CreateNetwork();
    ui::Dispatch([this] { FormCreate(this); });
    Timer1->start();
}

TMainForm::~TMainForm() {
    if (MainForm == this) {
        ui::SetErrorHandler(nullptr);
        MainForm = nullptr;
    }
    // Process end: an unconnected client has nothing left to send or close.
    delete idTCPClient;
    idTCPClient = nullptr;
}

void TMainForm::CreateControls() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Tavrin V1.04"));
    // Also the application font: a style sheet does not reliably pass a
    // parent's font on to its children.
    QApplication::setFont(DesignFont());
    setFont(DesignFont());
    SetProgramIcon();

    auto *central = new QWidget(this);
    setCentralWidget(central);
    auto *top = new QHBoxLayout(central);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);

    GroupBox1 = new QGroupBox(QStringLiteral("Registers"), central);
    GroupBox1->setFixedWidth(289);
    top->addWidget(GroupBox1);
    sg = new ui::TStringGrid(GroupBox1);
    new DockLeftFull(sg, QRect(2, 15, 285, 762));
    sg->setFrameShape(QFrame::NoFrame);
    sg->SetSize(3, 156, 2, 1);
    sg->SetColWidth(0, 48);
    sg->SetColWidth(1, 162);
    sg->SetColWidth(2, 48);
    sg->SetDefaultRowHeight(18);

    PanelClient = new QWidget(central);
    PanelClient->setObjectName(QStringLiteral("PanelClient"));
    top->addWidget(PanelClient, 1);
    auto *cl = new QVBoxLayout(PanelClient);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(0);
    PanelTop = new QWidget(PanelClient);
    PanelTop->setObjectName(QStringLiteral("PanelTop"));
    PanelTop->setFixedHeight(253);
    cl->addWidget(PanelTop);
    Memo1 = new ui::TMemo(PanelClient);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setPlainText(QStringLiteral("Memo1"));
    cl->addWidget(Memo1, 1);

    gbClient = Group(QStringLiteral("Client"), PanelTop, 9, 4, 176, 135);
    edIP = new ui::TLabeledEdit(QStringLiteral("IP:"), gbClient);
    edIP->setGeometry(40, 19, 121, 21);
    edIP->setText(QStringLiteral("192.168.10.50"));
    sePort = Spin(QStringLiteral("Port:"), gbClient, 40, 42, 121, 22, 502, 1, 65534, 5);
    btnConnect = Button(QStringLiteral("Connect"), gbClient, 42, 70, 119, 25);
    btnDisconnect = Button(QStringLiteral("Disconnect"), gbClient, 42, 98, 119, 25);

    gbReadRegs =
        Group(QStringLiteral("Read range registers (func 3)"), PanelTop, 191, 90, 176, 134);
    edRRStart =
        Spin(QStringLiteral("Start Adr:"), gbReadRegs, 80, 19, 89, 22, 40001, 40001, 40255, 5);
    edRRNums = Spin(QStringLiteral("Num. of point:"), gbReadRegs, 80, 47, 89, 22, 6, 1, 255, 5);
    btnSendRR = Button(QStringLiteral("Read range registers (f3)"), gbReadRegs, 3, 75, 164, 25);
    btnWriteRangeRegs =
        Button(QStringLiteral("Write range registers (f16)"), gbReadRegs, 3, 101, 164, 25);

    btnRestartSend = Button(QStringLiteral("Send restart (func 6)"), PanelTop, 530, 196, 155, 25);
    btnReadAllRegs =
        Button(QStringLiteral("Read all registers (func 3)"), PanelTop, 369, 196, 160, 25);

    gbText = Group(QStringLiteral("Text (func 16)"), PanelTop, 191, 4, 494, 83);
    edText = new ui::TLimitEdit(gbText);
    edText->setGeometry(8, 19, 477, 21);
    edText->SetTypingLimit(99);
    BitBtn1 = Button(QStringLiteral("Send (func 16)"), gbText, 386, 46, 100, 25);

    gbModbus = Group(QStringLiteral("Modbus"), PanelTop, 373, 90, 312, 95);
    seTransactionID =
        Spin(QStringLiteral("Transaction ID:"), gbModbus, 92, 18, 121, 22, 1, 0, 65535, 5);
    seProtocolID = Spin(QStringLiteral("Protocol ID:"), gbModbus, 92, 42, 121, 22, 1, 0, 65535, 5);
    seNodeID = Spin(QStringLiteral("Node ID (Slave):"), gbModbus, 92, 66, 121, 22, 1, 0, 255, 3);
    lTID = Label(QStringLiteral("lTID"), gbModbus, 222, 22);
    lPID = Label(QStringLiteral("lPID"), gbModbus, 222, 46);
    lNode = Label(QStringLiteral("lNode"), gbModbus, 222, 68);

    gbFunc = Group(QStringLiteral("Functions"), PanelTop, 9, 142, 179, 82);
    cbRepeatJob = new QCheckBox(QStringLiteral("Repeat job"), gbFunc);
    cbRepeatJob->setGeometry(10, 20, 75, 17);
    labrj = Label(QStringLiteral("---"), gbFunc, 13, 39);
    btnRead = Button(QStringLiteral("read"), gbFunc, 7, 56, 75, 25);
    btnRead->hide();
    btnWrite = Button(QStringLiteral("write"), gbFunc, 88, 58, 75, 25);
    btnWrite->hide();

    pmSendOneReg = new QMenu(this);
    pmSendRegister = pmSendOneReg->addAction(QStringLiteral("Send this register"));
    sg->SetPopupMenu(pmSendOneReg);

    Timer1 = new QTimer(this);
    Timer1->setInterval(3000);

    // Object names follow the design names (style sheet, tests, tools).
    // clang-format off
    const std::pair<QObject *, const char *> names[] = {
        {GroupBox1, "GroupBox1"}, {sg, "sg"}, {gbClient, "gbClient"}, {edIP, "edIP"},
        {sePort, "sePort"}, {gbReadRegs, "gbReadRegs"}, {edRRStart, "edRRStart"},
        {edRRNums, "edRRNums"}, {btnSendRR, "btnSendRR"}, {btnRestartSend, "btnRestartSend"},
        {pmSendOneReg, "pmSendOneReg"}, {pmSendRegister, "pmSendRegister"},
        {btnReadAllRegs, "btnReadAllRegs"}, {btnWriteRangeRegs, "btnWriteRangeRegs"},
        {gbText, "gbText"}, {edText, "edText"}, {BitBtn1, "BitBtn1"}, {gbModbus, "gbModbus"},
        {seTransactionID, "seTransactionID"}, {seProtocolID, "seProtocolID"},
        {seNodeID, "seNodeID"}, {lTID, "lTID"}, {lPID, "lPID"}, {lNode, "lNode"},
        {btnConnect, "btnConnect"}, {btnDisconnect, "btnDisconnect"}, {gbFunc, "gbFunc"},
        {cbRepeatJob, "cbRepeatJob"}, {Timer1, "Timer1"}, {btnRead, "btnRead"},
        {btnWrite, "btnWrite"}, {labrj, "labrj"}};
    // clang-format on
    for (const auto &[object, name] : names)
        object->setObjectName(QLatin1String(name));

    // clang-format off
    QWidget *const order[] = {sg, Memo1, edIP, sePort, btnConnect, btnDisconnect, edRRStart,
                              edRRNums, btnSendRR, btnWriteRangeRegs, btnRestartSend,
                              btnReadAllRegs, edText, BitBtn1, seTransactionID, seProtocolID,
                              seNodeID, cbRepeatJob};
    // clang-format on
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    ExplainControls();
    resize(DesignSize);
}

void TMainForm::WireEvents() {
    const auto click = [this](QPushButton *b, void (TMainForm::*handler)(QObject *)) {
        connect(b, &QPushButton::clicked, this,
                ui::Guarded([this, b, handler] { (this->*handler)(b); }));
    };
    click(btnConnect, &TMainForm::btnConnectClick);
    click(btnDisconnect, &TMainForm::btnDisconnectClick);
    click(btnSendRR, &TMainForm::btnSendRRClick);
    click(btnWriteRangeRegs, &TMainForm::btnWriteRangeRegsClick);
    click(btnRestartSend, &TMainForm::btnRestartSendClick);
    click(btnReadAllRegs, &TMainForm::btnReadAllRegsClick);
    click(BitBtn1, &TMainForm::btnSendClick);
    click(btnRead, &TMainForm::btnReadClick);
    click(btnWrite, &TMainForm::btnWriteClick);

    const auto change = [this](ui::TSpinEdit *s, void (TMainForm::*handler)(QObject *)) {
        connect(s, &ui::TSpinEdit::Changed, this,
                ui::Guarded([this, s, handler] { (this->*handler)(s); }));
    };
    change(seNodeID, &TMainForm::seNodeIDChange);
    change(seProtocolID, &TMainForm::seProtocolIDChange);
    change(seTransactionID, &TMainForm::seTransactionIDChange);

    connect(pmSendRegister, &QAction::triggered, this,
            ui::Guarded([this] { pmSendRegisterClick(pmSendRegister); }));
    connect(cbRepeatJob, &QCheckBox::toggled, this,
            ui::Guarded([this] { cbRepeatJobClick(cbRepeatJob); }));
    connect(Timer1, &QTimer::timeout, this, ui::Guarded([this] { Timer1Timer(Timer1); }));

    // The grid enters its callbacks through ui::Dispatch itself: a guard here
    // would hide a failing select-cell from the grid, which refuses the move.
    sg->OnSelectCell = [this](int col, int row, bool &canSelect) {
        sgSelectCell(sg, col, row, canSelect);
    };
    sg->OnSetEditText = [this](int col, int row, const QString &text) {
        sgSetEditText(sg, col, row, text);
    };
}

static void SetHexLabel(QLabel *label, int32_t value, int digits) {
    label->setText(core::HexLabelText(value, digits));
    label->adjustSize();
}

void TMainForm::FormCreate(QObject *) {
    ProgramPath = m_programPathOverride.isEmpty() ? QCoreApplication::applicationDirPath() + u'/'
                                                  : m_programPathOverride;
    LoadIni(QStringLiteral("Tavrin.ini"));
    myCaption = windowTitle();
    SetHexLabel(lNode, seNodeID->Value(), 2);
    SetHexLabel(lPID, seProtocolID->Value(), 4);
    SetHexLabel(lTID, seTransactionID->Value(), 4);
    Memo1->ClearLines();
    Init_SG();
    idTCPClient = new tcp::TcpClient;
    RefreshSG();
    MyAppExceptionCreate(this);
}

void TMainForm::FormClose(QObject *, CloseAction &) {
    if (ClientConnected()) {
        delete idTCPClient;
        // A close that fails to save leaves the window usable: it gets a
        // fresh, unconnected client rather than the released one.
        idTCPClient = new tcp::TcpClient;
    }
    try {
        SaveIni(QStringLiteral("Tavrin.ini"));
    } catch (...) {
        // The first failure keeps the window open, its reason in the caption.
        // The operator who has seen it and asks again gets one more try, then
        // the window closes anyway, so that a folder that cannot be written
        // never keeps the program (and a logout) from ending.
        if (!std::exchange(m_closeSaveFailed, true))
            throw;
    }
}

void TMainForm::closeEvent(QCloseEvent *event) {
    CloseAction action = CloseAction::Close;
    const bool ok = ui::Dispatch([&] { FormClose(this, action); });
    if (ok && action == CloseAction::Close)
        event->accept();
    else
        event->ignore();
}

void TMainForm::MyAppExceptionCreate(QObject *) {
    ui::SetErrorHandler([this](const QString &message) { MyAppException(this, message); });
}

void TMainForm::MyAppException(QObject *, const QString &message) {
    setWindowTitle(myCaption + QStringLiteral(" B\u0142\u0105d programu nr: ") +
                   QString::number(errorcount) + QStringLiteral(" Tre\u015B\u0107: ") + message);
    ++errorcount;
}

void TMainForm::seNodeIDChange(QObject *) {
    SetHexLabel(lNode, seNodeID->Value(), 2);
}
void TMainForm::seProtocolIDChange(QObject *) {
    SetHexLabel(lPID, seProtocolID->Value(), 4);
}
void TMainForm::seTransactionIDChange(QObject *) {
    SetHexLabel(lTID, seTransactionID->Value(), 4);
}
