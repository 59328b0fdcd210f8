#include "LogStore.h"

#include <algorithm>
#include <chrono>

namespace trafficlog {

namespace {

constexpr uint32_t WideFlag = 0x80000000u; // the line holds a character beyond ASCII
constexpr uint32_t OffsetMask = 0x7FFFFFFFu;

bool IsAscii(QStringView text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

// UTF-16 code units of UTF-8 text: one per sequence, two for a four-byte one.
int Utf16Length(const char *p, size_t n) {
    int length = 0;
    for (size_t i = 0; i < n; ++i) {
        const auto b = uint8_t(p[i]);
        if ((b & 0xC0) != 0x80)
            length += b >= 0xF0 ? 2 : 1;
    }
    return length;
}

} // namespace

struct LogStore::Page {
    std::vector<char> text;
    std::vector<uint32_t> ends; // end of each line in text, WideFlag or'ed in
    std::vector<int64_t> times;
    int64_t rows = 0;

    int Count() const { return int(ends.size()); }
    uint32_t Start(int i) const { return i ? (ends[size_t(i) - 1] & OffsetMask) : 0; }
    uint32_t End(int i) const { return ends[size_t(i)] & OffsetMask; }
    int Length(int i) const {
        const uint32_t s = Start(i), e = End(i);
        if (!(ends[size_t(i)] & WideFlag))
            return int(e - s);
        return Utf16Length(text.data() + s, e - s);
    }
};

int64_t NowMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

LogStore::LogStore() = default;
LogStore::~LogStore() = default;

namespace {

// Appends text as UTF-8; returns the flag for the line.
uint32_t Encode(QStringView text, std::vector<char> &out) {
    if (IsAscii(text)) {
        const size_t at = out.size();
        out.resize(at + size_t(text.size()));
        char *p = out.data() + at;
        for (QChar c : text)
            *p++ = char(c.unicode());
        return 0;
    }
    const QByteArray utf8 = text.toUtf8();
    out.insert(out.end(), utf8.begin(), utf8.end());
    return WideFlag;
}

} // namespace

void LogStore::Dirty(int fromPage) const {
    m_validPages = std::min(m_validPages, std::max(fromPage, 0));
}

void LogStore::Rebuild() const {
    const int n = int(m_pages.size());
    if (m_validPages >= n)
        return;
    m_firstLine.resize(size_t(n));
    m_firstRow.resize(size_t(n));
    for (int p = m_validPages; p < n; ++p) {
        if (p == 0) {
            m_firstLine[0] = 0;
            m_firstRow[0] = 0;
        } else {
            m_firstLine[size_t(p)] = m_firstLine[size_t(p) - 1] + m_pages[size_t(p) - 1]->Count();
            m_firstRow[size_t(p)] = m_firstRow[size_t(p) - 1] + m_pages[size_t(p) - 1]->rows;
        }
    }
    m_validPages = n;
}

LogStore::Where LogStore::Find(qsizetype line) const {
    const int last = int(m_pages.size()) - 1;
    if (line >= m_count - m_pages[size_t(last)]->Count())
        return {m_pages[size_t(last)].get(), int(line - (m_count - m_pages[size_t(last)]->Count())),
                last};
    Rebuild();
    const auto it = std::upper_bound(m_firstLine.begin(), m_firstLine.end(), int64_t(line));
    const int p = int(it - m_firstLine.begin()) - 1;
    return {m_pages[size_t(p)].get(), int(line - m_firstLine[size_t(p)]), p};
}

void LogStore::Append(QStringView text, int64_t time) {
    if (m_pages.empty() || m_pages.back()->Count() >= PageLines) {
        if (!m_pages.empty())
            m_pages.back()->text.shrink_to_fit(); // a full page keeps no slack
        auto page = std::make_unique<Page>();
        page->ends.reserve(PageLines);
        page->times.reserve(PageLines);
        m_pages.push_back(std::move(page));
    }
    Page &page = *m_pages.back();
    const uint32_t flag = Encode(text, page.text);
    page.ends.push_back(uint32_t(page.text.size()) | flag);
    page.times.push_back(time);
    const int rows = RowsFor(flag ? page.Length(page.Count() - 1) : int(text.size()));
    page.rows += rows;
    m_rows += rows;
    ++m_count;
}

void LogStore::InsertIntoPage(int pageNo, int index, QStringView text, int64_t time) {
    Page &page = *m_pages[size_t(pageNo)];
    std::vector<char> bytes;
    const uint32_t flag = Encode(text, bytes);
    const uint32_t at = page.Start(index);
    page.text.insert(page.text.begin() + at, bytes.begin(), bytes.end());
    const auto len = uint32_t(bytes.size());
    page.ends.insert(page.ends.begin() + index, (at + len) | flag);
    for (size_t j = size_t(index) + 1; j < page.ends.size(); ++j)
        page.ends[j] += len;
    page.times.insert(page.times.begin() + index, time);
    const int rows = RowsFor(page.Length(index));
    page.rows += rows;
    m_rows += rows;
    ++m_count;
    Dirty(pageNo + 1);
    if (page.Count() > 2 * PageLines)
        SplitPage(pageNo);
}

void LogStore::SplitPage(int pageNo) {
    Page &page = *m_pages[size_t(pageNo)];
    const int keep = page.Count() / 2;
    auto tail = std::make_unique<Page>();
    const uint32_t cut = page.Start(keep);
    tail->text.assign(page.text.begin() + cut, page.text.end());
    for (size_t j = size_t(keep); j < page.ends.size(); ++j)
        tail->ends.push_back(page.ends[j] - cut);
    tail->times.assign(page.times.begin() + keep, page.times.end());
    page.text.resize(cut);
    page.text.shrink_to_fit();
    page.ends.resize(size_t(keep));
    page.times.resize(size_t(keep));
    for (int i = 0; i < tail->Count(); ++i)
        tail->rows += RowsFor(tail->Length(i));
    page.rows -= tail->rows;
    m_pages.insert(m_pages.begin() + pageNo + 1, std::move(tail));
    Dirty(pageNo + 1);
}

void LogStore::Insert(qsizetype at, QStringView text, int64_t time) {
    at = std::clamp<qsizetype>(at, 0, m_count);
    if (at == m_count) {
        Append(text, time);
    } else {
        const Where w = Find(at);
        InsertIntoPage(w.pageNo, w.index, text, time);
    }
    ++m_generation;
}

void LogStore::Replace(qsizetype line, QStringView text) {
    if (line < 0 || line >= m_count)
        return;
    const Where w = Find(line);
    Page &page = *w.page;
    const int oldRows = RowsFor(page.Length(w.index));
    std::vector<char> bytes;
    const uint32_t flag = Encode(text, bytes);
    const uint32_t s = page.Start(w.index), e = page.End(w.index);
    const auto newLen = uint32_t(bytes.size());
    if (newLen > e - s)
        page.text.insert(page.text.begin() + e, newLen - (e - s), '\0');
    else
        page.text.erase(page.text.begin() + s + newLen, page.text.begin() + e);
    std::copy(bytes.begin(), bytes.end(), page.text.begin() + s);
    const int64_t delta = int64_t(newLen) - int64_t(e - s);
    page.ends[size_t(w.index)] = (s + newLen) | flag;
    for (size_t j = size_t(w.index) + 1; j < page.ends.size(); ++j)
        page.ends[j] = uint32_t(int64_t(page.ends[j]) + delta);
    const int rows = RowsFor(page.Length(w.index)) - oldRows;
    page.rows += rows;
    m_rows += rows;
    Dirty(w.pageNo + 1);
    ++m_generation;
}

void LogStore::Remove(qsizetype first, qsizetype count) {
    first = std::clamp<qsizetype>(first, 0, m_count);
    count = std::clamp<qsizetype>(count, 0, m_count - first);
    if (count == 0)
        return;
    if (count == m_count) {
        Clear();
        return;
    }
    while (count > 0) {
        const Where w = Find(first);
        Page &page = *w.page;
        const int n = int(std::min<qsizetype>(count, page.Count() - w.index));
        int64_t rows = 0;
        for (int i = w.index; i < w.index + n; ++i)
            rows += RowsFor(page.Length(i));
        const uint32_t s = page.Start(w.index), e = page.End(w.index + n - 1);
        page.text.erase(page.text.begin() + s, page.text.begin() + e);
        page.ends.erase(page.ends.begin() + w.index, page.ends.begin() + w.index + n);
        for (size_t j = size_t(w.index); j < page.ends.size(); ++j)
            page.ends[j] -= e - s;
        page.times.erase(page.times.begin() + w.index, page.times.begin() + w.index + n);
        page.rows -= rows;
        m_rows -= rows;
        m_count -= n;
        count -= n;
        if (page.Count() == 0) {
            m_pages.erase(m_pages.begin() + w.pageNo);
            Dirty(w.pageNo);
        } else {
            Dirty(w.pageNo + 1);
        }
    }
    ++m_generation;
}

void LogStore::Clear() {
    m_pages.clear();
    m_pages.shrink_to_fit();
    m_firstLine.clear();
    m_firstLine.shrink_to_fit();
    m_firstRow.clear();
    m_firstRow.shrink_to_fit();
    m_validPages = 0;
    m_count = 0;
    m_rows = 0;
    ++m_generation;
}

QByteArrayView LogStore::Utf8(qsizetype line, int64_t *time) const {
    if (line < 0 || line >= m_count)
        return {};
    const Where w = Find(line);
    if (time)
        *time = w.page->times[size_t(w.index)];
    const uint32_t s = w.page->Start(w.index);
    return QByteArrayView(w.page->text.data() + s, qsizetype(w.page->End(w.index) - s));
}

QString LogStore::Line(qsizetype line) const {
    if (line < 0 || line >= m_count)
        return {};
    const Where w = Find(line);
    const uint32_t s = w.page->Start(w.index);
    const auto n = qsizetype(w.page->End(w.index) - s);
    if (w.page->ends[size_t(w.index)] & WideFlag)
        return QString::fromUtf8(w.page->text.data() + s, n);
    return QString::fromLatin1(w.page->text.data() + s, n);
}

int LogStore::Length(qsizetype line) const {
    if (line < 0 || line >= m_count)
        return 0;
    const Where w = Find(line);
    return w.page->Length(w.index);
}

int64_t LogStore::Time(qsizetype line) const {
    if (line < 0 || line >= m_count)
        return 0;
    const Where w = Find(line);
    return w.page->times[size_t(w.index)];
}

void LogStore::SetColumns(int columns) {
    columns = std::max(columns, 1);
    if (columns == m_columns)
        return;
    m_columns = columns;
    m_rows = 0;
    for (auto &page : m_pages) {
        page->rows = 0;
        for (int i = 0; i < page->Count(); ++i)
            page->rows += RowsFor(page->Length(i));
        m_rows += page->rows;
    }
    Dirty(1);
}

int LogStore::RowsOf(qsizetype line) const {
    return RowsFor(Length(line));
}

int64_t LogStore::FirstRowOf(qsizetype line) const {
    if (m_count == 0)
        return 0;
    if (line >= m_count)
        return m_rows;
    const Where w = Find(line);
    int64_t row;
    if (w.pageNo == int(m_pages.size()) - 1) {
        row = m_rows - w.page->rows;
    } else {
        Rebuild();
        row = m_firstRow[size_t(w.pageNo)];
    }
    for (int i = 0; i < w.index; ++i)
        row += RowsFor(w.page->Length(i));
    return row;
}

LogStore::RowPos LogStore::LineAtRow(int64_t row) const {
    if (m_count == 0)
        return {0, 0};
    row = std::clamp<int64_t>(row, 0, m_rows - 1);
    int p = int(m_pages.size()) - 1;
    int64_t pageRow = m_rows - m_pages.back()->rows;
    int64_t pageLine = m_count - m_pages.back()->Count();
    if (row < pageRow) {
        Rebuild();
        const auto it = std::upper_bound(m_firstRow.begin(), m_firstRow.end(), row);
        p = int(it - m_firstRow.begin()) - 1;
        pageRow = m_firstRow[size_t(p)];
        pageLine = m_firstLine[size_t(p)];
    }
    const Page &page = *m_pages[size_t(p)];
    for (int i = 0; i < page.Count(); ++i) {
        const int r = RowsFor(page.Length(i));
        if (row < pageRow + r)
            return {pageLine + i, int(row - pageRow)};
        pageRow += r;
    }
    return {pageLine + page.Count() - 1, 0};
}

size_t LogStore::MemoryBytes() const {
    size_t bytes = sizeof *this + m_pages.capacity() * sizeof(void *) +
                   (m_firstLine.capacity() + m_firstRow.capacity()) * sizeof(int64_t);
    for (const auto &page : m_pages)
        bytes += sizeof(Page) + page->text.capacity() + page->ends.capacity() * sizeof(uint32_t) +
                 page->times.capacity() * sizeof(int64_t);
    return bytes;
}

} // namespace trafficlog
