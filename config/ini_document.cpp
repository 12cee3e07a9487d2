#include "config/ini_document.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "core/diagnostics.h"
#include "core/text.h"

namespace {

const wchar_t kEmpty[] = L"";

// The document is read in chunks of at most 1023 characters (a 1024-character buffer, one
// line feed at most) and joined into logical lines of at most 2047 characters. The chunk
// boundaries decide where long lines end, so they are reproduced exactly.
constexpr std::size_t kChunk = 1023;
constexpr std::size_t kLineMax = 2047;
constexpr std::size_t kNameMax = 127;
constexpr std::size_t kKeyMax = 127;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle() {
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// Hands out the chunks a wide stream's getline(buffer, 1024) would, with its failure state:
// a read that stores 1023 characters not followed by a line feed (that character stays
// unread), or a read that finds nothing at all.
class ChunkReader {
public:
    ChunkReader(const wchar_t* units, std::size_t count) : m_pos(units), m_end(units + count) {}

    // Copies the next chunk to `dst` (room for 1023 characters) with tabs as spaces, in the
    // same pass noting in `stop` where its first ";" or U+0000 lies (kNone if nowhere). `dst`
    // may lie in the units already read: each unit is read before its place is written.
    std::size_t Read(wchar_t* dst, std::size_t* stop) {
        *stop = kNone;
        const std::size_t available = static_cast<std::size_t>(m_end - m_pos);
        if (available == 0) {
            m_failed = true;
            return 0;
        }
        const std::size_t limit = available < kChunk ? available : kChunk;
        for (std::size_t i = 0; i < limit; ++i) {
            const wchar_t c = m_pos[i];
            if (c == L'\n') {
                m_pos += i + 1;
                return i;
            }
            if ((c == L';' || c == L'\0') && *stop == kNone) *stop = i;
            dst[i] = c == L'\t' ? L' ' : c;
        }
        m_pos += limit;
        if (limit == kChunk && m_pos != m_end) {
            if (*m_pos == L'\n')
                ++m_pos;
            else
                m_failed = true;
        }
        return limit;
    }

    // Drops the rest of the physical line, line feed included, and clears the failure state.
    void SkipLine() {
        while (m_pos != m_end) {
            if (*m_pos++ == L'\n') break;
        }
        m_failed = false;
    }

    bool Failed() const { return m_failed; }
    void ClearFailure() { m_failed = false; }

private:
    const wchar_t* m_pos;
    const wchar_t* m_end;
    bool m_failed = false;
};

wchar_t FoldAZ(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool EqualFoldedAZ(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
        if (*a != *b && FoldAZ(*a) != FoldAZ(*b)) return false;
        if (*a == L'\0') return true;
    }
}

std::uint32_t NameKey(const wchar_t* name) {
    std::uint32_t key = 2166136261u;
    for (; *name; ++name) key = (key ^ FoldAZ(*name)) * 16777619u;
    return key;
}

bool EndsName(wchar_t c) { return c == L']' || c == L'\r'; }

// Narrows [*begin, *end) of text so that it neither starts nor ends with a space.
void TrimSpaces(const wchar_t* text, std::size_t* begin, std::size_t* end) {
    while (*begin < *end && text[*begin] == L' ') ++*begin;
    while (*end > *begin && text[*end - 1] == L' ') --*end;
}

}  // namespace

IniEntry* IniSection::FindEntry(const wchar_t* key) const {
    if (!key) return nullptr;
    for (IniEntry* entry : entries) {
        if (EqualFoldedAZ(entry->key, key)) return entry;
    }
    return nullptr;
}

const wchar_t* IniSection::GetValue(const wchar_t* key) const {
    const IniEntry* entry = FindEntry(key);
    return entry ? entry->value : kEmpty;
}

IniDocument::IniDocument() : m_path{}, m_fileSize(0), m_pCurrentSection(nullptr) {}

IniDocument::~IniDocument() = default;

void IniDocument::Clear() {
    m_sections = std::vector<IniSection*>();
    m_nameKeys = std::vector<std::uint32_t>();
    m_sectionRecords.clear();
    m_entries.clear();
    m_text.reset();
    m_pCurrentSection = nullptr;
}

bool IniDocument::LoadFromFile(const wchar_t* path) {
    Clear();
    if (!path || std::wcslen(path) >= sizeof(m_path) / sizeof(m_path[0])) {
        m_path[0] = L'\0';
        return false;
    }
    pel::CopyText(m_path, path);

    FileHandle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    m_fileSize = GetFileSize(file.Get(), &high);
    if (m_fileSize == 0 && high == 0) return false;
    if (high != 0 || m_fileSize > kMaxFileSize) {
        const unsigned long long size = static_cast<unsigned long long>(high) << 32 | m_fileSize;
        pel::TraceF("IniDocument::LoadFromFile %S is too large (%s bytes, limit %lu)", path,
                    std::to_string(size).c_str(), kMaxFileSize);
        return false;
    }

    // One unit more than the content: the last text of a document that does not end with a
    // line feed is terminated there.
    m_text.reset(new (std::nothrow) wchar_t[(m_fileSize + 1) / 2 + 1]);
    DWORD read = 0;
    if (m_text && ReadFile(file.Get(), m_text.get(), m_fileSize, &read, nullptr)) {
        // What a short read left unfilled reads as U+0000 units.
        std::memset(reinterpret_cast<unsigned char*>(m_text.get()) + read, 0, m_fileSize - read);
        ParseText(m_fileSize / 2);  // an odd last byte is ignored
    } else {
        m_text.reset();
    }
    return true;
}

void IniDocument::Parse(const unsigned char* bytes, unsigned long size) {
    Clear();
    if (!bytes) return;
    const std::size_t count = size / 2;  // an odd last byte is ignored
    m_text.reset(new (std::nothrow) wchar_t[count + 1]);
    if (!m_text) return;
    std::memcpy(m_text.get(), bytes, count * sizeof(wchar_t));
    ParseText(count);
}

// Works in m_text. A logical line is assembled where the previous line's texts end, from units
// read further on, and its own texts are cut out of it where it lies. The texts of a line never
// take more room than the line and its line feed took in the content, so the assembly never
// overtakes the reading.
void IniDocument::ParseText(std::size_t count) {
    m_pCurrentSection = nullptr;
    if (count == 0) return;

    wchar_t* const text = m_text.get();
    wchar_t* line = text;      // where the logical line is assembled
    std::size_t length = 0;    // characters in the logical line so far
    std::size_t previous = 0;  // its length before the last chunk was appended
    std::size_t stop = kNone;  // where its first ";" or U+0000 lies
    // The first unit is read on its own: a byte-order mark (either order) is dropped, anything
    // else starts the first line as it stands, tab or not.
    const wchar_t first = text[0];
    if (first != 0xFEFF && first != 0xFFFE) {
        if (first == L';' || first == L'\0') stop = 0;
        length = 1;
    }

    ChunkReader reader(text + 1, count - 1);
    for (;;) {
        wchar_t* chunk = line + length;
        std::size_t chunkStop = kNone;
        const std::size_t chunkLength = reader.Read(chunk, &chunkStop);
        if (stop == kNone && chunkStop != kNone) stop = length + chunkStop;
        bool complete = true;
        if (chunkLength >= kLineMax - length) {
            length = kLineMax;
            if (reader.Failed()) reader.SkipLine();
        } else {
            length += chunkLength;
            // A line that has grown to a multiple of 1023 may have been split by the chunk size:
            // read on, unless the chunk's last place holds a CR (a 1022-character line and its
            // CR LF fill a chunk exactly). After an unmarked first character a 1022-character
            // chunk qualifies too: its last place then holds the buffer's terminator.
            complete = !(length > previous && length % kChunk == 0 &&
                         (chunkLength < kChunk || chunk[kChunk - 1] != L'\r'));
        }
        if (!complete) {
            previous = length;
            reader.ClearFailure();
            continue;
        }
        line = ProcessLine(line, stop < length ? stop : length);
        length = 0;
        previous = 0;
        stop = kNone;
        // A full chunk that did not continue its line, or the end of the content, ends parsing.
        if (reader.Failed()) break;
    }
}

// `length` already ends before the line's first ";" or U+0000. Returns where the next line is
// to be assembled: past the texts kept from this one.
wchar_t* IniDocument::ProcessLine(wchar_t* line, std::size_t length) {
    std::size_t n = length;
    while (n > 0 && (line[n - 1] == L' ' || line[n - 1] == L'\r' || line[n - 1] == L'\n')) --n;
    if (n == 0 || line[0] == L'\r') return line;
    if (line[0] == L'[') return AddSection(line + 1, n - 1);
    return AddEntry(line, n);
}

// A text is terminated in place at its end, which lies at most at text[length]: the place of
// the line's first dropped unit, or the spare unit after the content.
wchar_t* IniDocument::AddSection(wchar_t* text, std::size_t length) {
    const std::size_t n = length < kNameMax ? length : kNameMax;
    // "]" or CR in either of the last two places ends the name: "[name]x" is "name".
    std::size_t end = n;
    if (n >= 1 && EndsName(text[n - 1])) end = n - 1;
    if (n >= 2 && EndsName(text[n - 2])) end = n - 2;
    std::size_t begin = 0;
    TrimSpaces(text, &begin, &end);
    text[end] = L'\0';

    m_sectionRecords.emplace_back(text + begin, &m_entries);
    IniSection* section = &m_sectionRecords.back();
    m_nameKeys.push_back(NameKey(section->name));
    try {
        m_sections.push_back(section);
    } catch (...) {
        m_nameKeys.pop_back();
        throw;
    }
    m_pCurrentSection = section;
    return text + end + 1;
}

wchar_t* IniDocument::AddEntry(wchar_t* line, std::size_t length) {
    if (!m_pCurrentSection) return line;
    IniEntry entry = {kEmpty, kEmpty};
    wchar_t* next = line;
    wchar_t* equals = std::wmemchr(line, L'=', length);
    if (equals) {
        std::size_t keyEnd = static_cast<std::size_t>(equals - line);
        if (keyEnd > kKeyMax) keyEnd = kKeyMax;
        std::size_t keyBegin = 0;
        TrimSpaces(line, &keyBegin, &keyEnd);
        line[keyEnd] = L'\0';  // at the latest the "=" itself
        entry.key = line + keyBegin;

        // No trimming at the start: " = x" has the value " x".
        wchar_t* value = equals + 1;
        std::size_t n = static_cast<std::size_t>(line + length - value);
        if (n > 0 && value[n - 1] == L'\r') --n;
        // A quote in either of the last two places ends the value, a leading one is dropped:
        // "\"x\"" and "\"x\"y" are both "x".
        std::size_t end = n;
        if (n >= 1 && value[n - 1] == L'"') end = n - 1;
        if (n >= 2 && value[n - 2] == L'"') end = n - 2;
        const std::size_t begin = (end > 0 && value[0] == L'"') ? 1 : 0;
        value[end] = L'\0';
        entry.value = value + begin;
        next = value + end + 1;
    }
    m_entries.push_back(entry);
    ++m_pCurrentSection->entries.m_count;
    return next;
}

IniSection* IniDocument::FindSection(const wchar_t* name) const {
    if (!name) return nullptr;
    const std::uint32_t key = NameKey(name);
    for (std::size_t i = 0; i < m_sections.size(); ++i) {
        if (m_nameKeys[i] == key && EqualFoldedAZ(m_sections[i]->name, name)) return m_sections[i];
    }
    return nullptr;
}

const wchar_t* IniDocument::GetValue(const wchar_t* section, const wchar_t* key) const {
    const IniSection* found = FindSection(section);
    return found ? found->GetValue(key) : kEmpty;
}
