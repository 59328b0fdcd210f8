#pragma once
// The traffic log's lines, kept compact for a log that runs for weeks: the
// text of a page of lines lies back to back in one UTF-8 buffer, with one
// end offset and one time per line (12 bytes a line beside its text).
// Appending touches only the last page, so it costs the same at any size.
//
// Rows: with a monospaced font a line of n characters takes
// max(1, ceil(n / columns)) rows, so the row count of the whole log is kept
// as a running total and recomputed only when the width changes.
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <vector>

namespace trafficlog {

class LogStore {
public:
    // Lines per page when appending; a page that edits grow past twice this
    // is split.
    static constexpr int PageLines = 1024;

    LogStore();
    ~LogStore();
    LogStore(const LogStore &) = delete;
    LogStore &operator=(const LogStore &) = delete;

    qsizetype Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    // time: microseconds since the epoch (UTC). text holds no line break.
    void Append(QStringView text, int64_t time);
    void Insert(qsizetype at, QStringView text, int64_t time);
    void Replace(qsizetype line, QStringView text); // keeps the line's time
    void Remove(qsizetype first, qsizetype count);
    void Clear();

    QString Line(qsizetype line) const;
    QByteArrayView Utf8(qsizetype line, int64_t *time = nullptr) const;
    int Length(qsizetype line) const; // in UTF-16 code units
    int64_t Time(qsizetype line) const;

    // Bumped by every change except an append at the end: a reader that
    // walks the lines across event processing can tell it must stop.
    uint64_t Generation() const { return m_generation; }

    // Wrapping at `columns` characters (at least 1).
    void SetColumns(int columns);
    int Columns() const { return m_columns; }
    int RowsOf(qsizetype line) const;
    int64_t Rows() const { return m_rows; }
    int64_t FirstRowOf(qsizetype line) const;
    struct RowPos {
        qsizetype line;
        int sub; // row within the line
    };
    RowPos LineAtRow(int64_t row) const; // row clamped to the log

    // Bytes held by the store, capacity included.
    size_t MemoryBytes() const;

private:
    struct Page;
    struct Where {
        Page *page;
        int index;
        int pageNo;
    };
    Where Find(qsizetype line) const;
    void Rebuild() const;
    void Dirty(int fromPage) const;
    int RowsFor(int length) const {
        return length <= m_columns ? 1 : int((int64_t(length) + m_columns - 1) / m_columns);
    }
    void InsertIntoPage(int pageNo, int index, QStringView text, int64_t time);
    void SplitPage(int pageNo);

    std::vector<std::unique_ptr<Page>> m_pages;
    // First line and first row of each page; valid below m_validPages.
    mutable std::vector<int64_t> m_firstLine;
    mutable std::vector<int64_t> m_firstRow;
    mutable int m_validPages = 0;
    qsizetype m_count = 0;
    int64_t m_rows = 0;
    int m_columns = 80;
    uint64_t m_generation = 0;
};

// Microseconds since the epoch, wall clock.
int64_t NowMicroseconds();

} // namespace trafficlog
