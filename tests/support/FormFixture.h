#pragma once
// The one main window fixture of the window tests, the fuzz target and the
// benchmark: a window in a temporary folder (or a given one), message boxes
// answered and recorded, the module state put back after each window, and a
// Connect that only ever goes to 127.0.0.1.
#include "Edits.h"
#include "MainUnit.h"
#include "Memo.h"
#include "MessageBox.h"

#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

struct FormFixture {
    // A box as the window showed it, and the log lines there were by then.
    struct ShownBox : ui::BoxRequest {
        int linesBefore = -1;
    };

    // Timer1 runs as in the program, or is stopped so that tests drive the
    // ticks by hand.
    enum class Timer { Stopped, Running };

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    QList<ShownBox> boxes;
    std::function<void(const ui::BoxRequest &)> onBox; // runs inside a box (tests)

    explicit FormFixture(Timer timer = Timer::Stopped) : m_timer(timer) {}
    FormFixture(const FormFixture &) = delete;
    FormFixture &operator=(const FormFixture &) = delete;
    ~FormFixture() { Close(); }

    // programPath must end in a separator (a new temporary folder if empty);
    // beforeCreate runs once the state is reset (words of a previous run).
    void Open(const QString &programPath = {}, const std::function<void()> &beforeCreate = {}) {
        Close();
        boxes.clear();
        ui::SetMessageBoxHook([this](const ui::BoxRequest &r) {
            boxes.append({r, form ? int(form->Memo1->Lines().size()) : -1});
            if (onBox)
                onBox(r);
        });
        QString path = programPath;
        if (path.isEmpty()) {
            dir = std::make_unique<QTemporaryDir>();
            path = dir->path() + u'/';
        }
        if (beforeCreate)
            beforeCreate();
        form = std::make_unique<TMainForm>(nullptr, path);
        if (m_timer == Timer::Stopped)
            form->Timer1->stop();
    }
    void Close() {
        form.reset();
        ResetModuleState();
        ui::SetMessageBoxHook(nullptr);
        onBox = nullptr;
        dir.reset();
    }
    // Loopback only.
    bool Connect(quint16 port) {
        form->edIP->setText(QStringLiteral("127.0.0.1"));
        form->sePort->SetValue(port);
        form->btnConnectClick(form->btnConnect);
        return form->Memo1->Lines().contains(QStringLiteral("Successful connect with Tavrin"));
    }
    QStringList Lines() const { return form->Memo1->Lines(); }
    QString LastLine() const {
        QStringList l = Lines();
        while (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l.isEmpty() ? QString() : l.last();
    }
    static QString Hex(const uint8_t *p, int n) {
        QStringList parts;
        for (int i = 0; i < n; ++i)
            parts << QStringLiteral("%1").arg(p[i], 2, 16, QLatin1Char('0')).toUpper();
        return parts.join(u' ');
    }

private:
    Timer m_timer;
};
