#pragma once
// Typing into whatever has the focus, as a user would. A token of one
// character types it; <...> names a key (C- Ctrl, S- Shift).
#include <QApplication>
#include <QHash>
#include <QStringList>
#include <QTest>
#include <utility>

namespace gridtest {

inline void Press(const QString &token) {
    QWidget *target = QApplication::focusWidget();
    QVERIFY2(target, "no widget has the focus");
    if (token.size() == 1) {
        const QChar c = token.front();
        if (c.unicode() < 0x80)
            QTest::keyClick(target, char(c.unicode()));
        else // a letter no key code stands for: only its text
            QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, token, Qt::NoModifier);
        return;
    }
    static const QHash<QString, std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
        {"<BS>", {Qt::Key_Backspace, {}}},
        {"<Del>", {Qt::Key_Delete, {}}},
        {"<Left>", {Qt::Key_Left, {}}},
        {"<Right>", {Qt::Key_Right, {}}},
        {"<Up>", {Qt::Key_Up, {}}},
        {"<Down>", {Qt::Key_Down, {}}},
        {"<Home>", {Qt::Key_Home, {}}},
        {"<End>", {Qt::Key_End, {}}},
        {"<PgUp>", {Qt::Key_PageUp, {}}},
        {"<PgDn>", {Qt::Key_PageDown, {}}},
        {"<F2>", {Qt::Key_F2, {}}},
        {"<Enter>", {Qt::Key_Return, {}}},
        {"<Esc>", {Qt::Key_Escape, {}}},
        {"<Tab>", {Qt::Key_Tab, {}}},
        {"<S-Down>", {Qt::Key_Down, Qt::ShiftModifier}},
        {"<S-Up>", {Qt::Key_Up, Qt::ShiftModifier}},
        {"<S-PgDn>", {Qt::Key_PageDown, Qt::ShiftModifier}},
        {"<C-Home>", {Qt::Key_Home, Qt::ControlModifier}},
        {"<C-End>", {Qt::Key_End, Qt::ControlModifier}},
        {"<C-v>", {Qt::Key_V, Qt::ControlModifier}},
        {"<C-x>", {Qt::Key_X, Qt::ControlModifier}},
        {"<C-z>", {Qt::Key_Z, Qt::ControlModifier}},
    };
    const auto it = keys.find(token);
    QVERIFY2(it != keys.end(), qPrintable(token));
    QTest::keyClick(target, it->first, it->second);
}

inline void PressAll(const QStringList &tokens) {
    for (const QString &t : tokens) {
        Press(t);
        if (QTest::currentTestFailed())
            return;
    }
}

} // namespace gridtest
