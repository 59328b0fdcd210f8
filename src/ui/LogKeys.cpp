#include "LogKeys.h"

namespace ui {

namespace {

// Tried in this order: a select key before its move key, the delete keys
// that take a word before Backspace. Backspace goes by its key with any
// modifier not bound before it, as in a plain text edit.
using QK = QKeySequence;
using Command = LogKey::Command;
using trafficlog::Move;
const LogKey Keys[] = {
    {QK::SelectNextChar, Command::Select, Move::NextChar},
    {QK::MoveToNextChar, Command::Move, Move::NextChar},
    {QK::SelectPreviousChar, Command::Select, Move::PreviousChar},
    {QK::MoveToPreviousChar, Command::Move, Move::PreviousChar},
    {QK::SelectNextWord, Command::Select, Move::NextWord},
    {QK::MoveToNextWord, Command::Move, Move::NextWord},
    {QK::SelectPreviousWord, Command::Select, Move::PreviousWord},
    {QK::MoveToPreviousWord, Command::Move, Move::PreviousWord},
    {QK::SelectNextLine, Command::Select, Move::NextRow},
    {QK::MoveToNextLine, Command::Move, Move::NextRow},
    {QK::SelectPreviousLine, Command::Select, Move::PreviousRow},
    {QK::MoveToPreviousLine, Command::Move, Move::PreviousRow},
    {QK::SelectNextPage, Command::Select, Move::NextPage},
    {QK::MoveToNextPage, Command::Move, Move::NextPage},
    {QK::SelectPreviousPage, Command::Select, Move::PreviousPage},
    {QK::MoveToPreviousPage, Command::Move, Move::PreviousPage},
    {QK::SelectStartOfLine, Command::Select, Move::StartOfRow},
    {QK::MoveToStartOfLine, Command::Move, Move::StartOfRow},
    {QK::SelectEndOfLine, Command::Select, Move::EndOfRow},
    {QK::MoveToEndOfLine, Command::Move, Move::EndOfRow},
    {QK::SelectStartOfDocument, Command::Select, Move::StartOfLog},
    {QK::MoveToStartOfDocument, Command::Move, Move::StartOfLog},
    {QK::SelectEndOfDocument, Command::Select, Move::EndOfLog},
    {QK::MoveToEndOfDocument, Command::Move, Move::EndOfLog},
    {QK::SelectAll, Command::SelectAll},
    {QK::Copy, Command::Copy},
    {QK::Cut, Command::Cut},
    {QK::Paste, Command::Paste},
    {QK::InsertParagraphSeparator, Command::NewLine},
    {QK::InsertLineSeparator, Command::NewLine},
    {QK::DeleteEndOfWord, Command::Delete, Move::NextWord},
    {QK::DeleteStartOfWord, Command::Delete, Move::PreviousWord},
    {QK::UnknownKey, Command::Delete, Move::PreviousChar, Qt::Key_Backspace},
    {QK::Delete, Command::Delete, Move::NextChar},
};

} // namespace

const LogKey *LogKeyOf(const QKeyEvent *e) {
    for (const LogKey &k : Keys)
        if (k.key == QK::UnknownKey ? e->key() == k.anyModifiers : e->matches(k.key))
            return &k;
    return nullptr;
}

} // namespace ui
