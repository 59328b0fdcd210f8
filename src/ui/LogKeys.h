#pragma once
// The traffic log's key bindings, one table: each key with what it does,
// and for a move or a delete where it takes the caret. The keys are the
// platform's standard ones (Qt's QKeySequence::StandardKey).
#include "LogControl.h"

#include <QKeyEvent>
#include <QKeySequence>

namespace ui {

struct LogKey {
    enum class Command { Move, Select, Delete, SelectAll, Copy, Cut, Paste, NewLine };
    QKeySequence::StandardKey key;
    Command command;
    trafficlog::Move move = trafficlog::Move::NextChar;
    Qt::Key anyModifiers = Qt::Key_unknown; // matched by key alone where key is UnknownKey
};

// The binding of a key press, or null.
const LogKey *LogKeyOf(const QKeyEvent *event);

} // namespace ui
