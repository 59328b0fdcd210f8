#pragma once
// A main window in a temporary folder, with message boxes answered and
// recorded, and a Connect that only ever goes to 127.0.0.1.
#include "Edits.h"
#include "MainUnit.h"
#include "MessageBox.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

struct FormFixture {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<TMainForm> form;
    QList<ui::BoxRequest> boxes;
    std::function<void(const ui::BoxRequest &)> onBox; // runs inside a box (tests)

    void Open() {
        Close();
        boxes.clear();
        ui::SetMessageBoxHook([this](const ui::BoxRequest &r) {
            boxes << r;
            if (onBox)
                onBox(r);
        });
        dir = std::make_unique<QTemporaryDir>();
        form = std::make_unique<TMainForm>(nullptr, dir->path() + u'/');
        form->Timer1->stop(); // ticks are driven by hand
    }
    void Close() {
        form.reset();
        ResetModuleState();
        ui::SetMessageBoxHook(nullptr);
        onBox = nullptr;
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
};
