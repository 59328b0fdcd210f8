#include "NetworkDialog.h"

#include "Dispatch.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ui {

namespace {

constexpr int AddressLength = 19; // 15 of a dotted address, blanks around it
constexpr int PortLength = 5;     // as the "Port:" field
constexpr int FieldWidthChars = 17;

QString CurrentText(const core::NetSettings &s, core::NetField field) {
    switch (field) {
    case core::NetField::Ip:
        return core::QuadText(s.ip);
    case core::NetField::Mask: {
        const int prefix = core::PrefixLength(s.mask);
        return core::QuadText(s.mask) + (prefix < 0 ? QStringLiteral(" (not a mask)")
                                                    : QStringLiteral(" (/%1)").arg(prefix));
    }
    case core::NetField::Gateway:
        return core::QuadText(s.gateway) +
               (s.gateway == core::Quad{} ? QStringLiteral(" (none)") : QString());
    case core::NetField::Port:
        return QString::number(s.port);
    }
    return QString();
}

QString InitialText(const core::NetSettings &s, core::NetField field) {
    return field == core::NetField::Port ? QString::number(s.port)
                                         : CurrentText(s, field).section(u' ', 0, 0);
}

// Colours that read on the window's own background: the application's style
// sheet sets every widget's text colour, so a label is given one of its own.
struct Inks {
    QString reason, warning;
};
Inks InksFor(const QPalette &palette) {
    if (palette.color(QPalette::Window).lightness() < 128) // a dark look (Onyx Blue)
        return {QStringLiteral("color: #ff9a70;"), QStringLiteral("color: #f0e442;")};
    return {QStringLiteral("color: #a84300;"), QStringLiteral("color: #7a5200;")};
}

} // namespace

TNetworkDialog::TNetworkDialog(const core::NetSettings &current, QWidget *parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Network settings"));
    setObjectName(QStringLiteral("NetworkDialog"));

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("In the grid now"), this), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("New"), this), 0, 2);
    const QString captions[] = {QStringLiteral("IP address:"), QStringLiteral("Mask:"),
                                QStringLiteral("Gateway:"), QStringLiteral("Port:")};
    QLineEdit **fields[] = {&edNewIP, &edNewMask, &edNewGateway, &edNewPort};
    for (int i = 0; i < core::NetFieldCount; ++i) {
        const auto field = core::NetField(i);
        auto *edit = new QLineEdit(this);
        *fields[i] = edit;
        edit->setMaxLength(field == core::NetField::Port ? PortLength : AddressLength);
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * FieldWidthChars);
        edit->setText(InitialText(current, field));
        auto *caption = new QLabel(captions[i], this);
        caption->setBuddy(edit);
        auto *now = new QLabel(CurrentText(current, field), this);
        now->setTextInteractionFlags(Qt::TextSelectableByMouse);
        labReasons[size_t(i)] = new QLabel(this);
        edit->setAccessibleName(QStringLiteral("New ") + captions[i].chopped(1));
        grid->addWidget(caption, i + 1, 0);
        grid->addWidget(now, i + 1, 1);
        grid->addWidget(edit, i + 1, 2);
        grid->addWidget(labReasons[size_t(i)], i + 1, 3);
    }
    grid->setColumnStretch(3, 1);
    grid->setColumnMinimumWidth(3, fontMetrics().averageCharWidth() * 40);

    labWarning = new QLabel(this);
    labWarning->setWordWrap(true);
    labNew = new QLabel(this);
    labNew->setWordWrap(true);
    labNew->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *about = new QLabel(
        QStringLiteral("Write sends 40025 to 40037 in one request (function 16) and reads them "
                       "back. The module answers at the new address once it restarts."),
        this);
    about->setWordWrap(true);
    const QString problems = core::CheckNetSettings(current).Problems();
    auto *nowInvalid = new QLabel(this);
    nowInvalid->setWordWrap(true);
    if (!problems.isEmpty())
        nowInvalid->setText(QStringLiteral("The grid holds no valid setting (%1). Read the "
                                           "registers first to see the module's own.")
                                .arg(problems));
    nowInvalid->setVisible(!problems.isEmpty());

    auto *buttons = new QDialogButtonBox(this);
    btnWrite = buttons->addButton(QStringLiteral("Write"), QDialogButtonBox::AcceptRole);
    btnCancel = buttons->addButton(QDialogButtonBox::Cancel);
    // Enter in a field must not write the module's address.
    for (QPushButton *b : {btnWrite, btnCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    btnWrite->setObjectName(QStringLiteral("btnWrite"));
    connect(buttons, &QDialogButtonBox::accepted, this, Guarded([this] { accept(); }));
    connect(buttons, &QDialogButtonBox::rejected, this, Guarded([this] { reject(); }));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(nowInvalid);
    layout->addWidget(labWarning);
    layout->addWidget(labNew);
    layout->addWidget(about);
    layout->addWidget(buttons);

    ensurePolished();
    const Inks inks = InksFor(palette());
    for (QLabel *reason : labReasons)
        reason->setStyleSheet(inks.reason);
    labWarning->setStyleSheet(inks.warning);

    for (QLineEdit *edit : {edNewIP, edNewMask, edNewGateway, edNewPort})
        connect(edit, &QLineEdit::textChanged, this, Guarded([this] { Recheck(); }));
    Recheck();
}

QLineEdit *TNetworkDialog::Field(core::NetField field) const {
    QLineEdit *const fields[] = {edNewIP, edNewMask, edNewGateway, edNewPort};
    return fields[size_t(field)];
}

void TNetworkDialog::Recheck() {
    m_settings = {};
    m_check = core::CheckNetTexts(
        {edNewIP->text(), edNewMask->text(), edNewGateway->text(), edNewPort->text()}, m_settings);
    for (int i = 0; i < core::NetFieldCount; ++i) {
        const QString &why = m_check.reasons[size_t(i)];
        labReasons[size_t(i)]->setText(why);
        Field(core::NetField(i))->setAccessibleDescription(why);
        Field(core::NetField(i))->setToolTip(why);
    }
    labWarning->setText(m_check.warning.isEmpty()
                            ? QString()
                            : QStringLiteral("Warning: ") + m_check.warning + u'.');
    labWarning->setVisible(!m_check.warning.isEmpty());
    labNew->setText(m_check.Ok() ? QStringLiteral("New: ") + core::NetDescription(m_settings) + u'.'
                                 : QStringLiteral("New: not yet valid."));
    btnWrite->setEnabled(m_check.Ok());
}

} // namespace ui
