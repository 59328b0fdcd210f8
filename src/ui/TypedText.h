#pragma once
// Whether a key press types text (a character, not a command), the one
// test that the log, the limited edits and the grid share.
#include <QKeyEvent>

namespace ui {

inline bool IsTypedText(const QKeyEvent *event) {
    const QString text = event->text();
    return !text.isEmpty() && text.front().isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
}

} // namespace ui
