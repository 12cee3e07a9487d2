#include "config/ini_document.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

#include "loader/text.h"

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

// One UTF-16LE code unit of the content, at any alignment.
wchar_t UnitAt(const unsigned char* p) { return static_cast<wchar_t>(p[0] | (p[1] << 8)); }

// Hands out the chunks a wide stream's getline(buffer, 1024) would, with its failure state:
// a read that stores 1023 characters not followed by a line feed (that character stays
// unread), or a read that finds nothing at all.
class ChunkReader {
public:
    ChunkReader(const unsigned char* content, std::size_t units)
        : m_pos(content), m_end(content + 2 * units) {}

    // Copies the next chunk to `dst` (room for 1023 characters) with tabs as spaces, in the
    // same pass noting in `stop` where its first ";" or U+0000 lies (kNone if nowhere).
    std::size_t Read(wchar_t* dst, std::size_t* stop) {
        *stop = kNone;
        const std::size_t available = static_cast<std::size_t>(m_end - m_pos) / 2;
        if (available == 0) {
            m_failed = true;
            return 0;
        }
        const std::size_t limit = available < kChunk ? available : kChunk;
        for (std::size_t i = 0; i < limit; ++i) {
            const wchar_t c = UnitAt(m_pos + 2 * i);
            if (c == L'\n') {
                m_pos += 2 * (i + 1);
                return i;
            }
            if ((c == L';' || c == L'\0') && *stop == kNone) *stop = i;
            dst[i] = c == L'\t' ? L' ' : c;
        }
        m_pos += 2 * limit;
        if (limit == kChunk && m_pos != m_end) {
            if (UnitAt(m_pos) == L'\n')
                m_pos += 2;
            else
                m_failed = true;
        }
        return limit;
    }

    // Drops the rest of the physical line, line feed included, and clears the failure state.
    void SkipLine() {
        while (m_pos != m_end) {
            const wchar_t c = UnitAt(m_pos);
            m_pos += 2;
            if (c == L'\n') break;
        }
        m_failed = false;
    }

    bool Failed() const { return m_failed; }
    void ClearFailure() { m_failed = false; }

private:
    const unsigned char* m_pos;
    const unsigned char* m_end;
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

IniSection::IniSection() : name{} {}

IniSection::~IniSection() {
    for (IniEntry* entry : entries) delete entry;
}

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

IniDocument::~IniDocument() { Clear(); }

void IniDocument::Clear() {
    for (IniSection* section : m_sections) delete section;
    m_sections.clear();
    m_nameKeys.clear();
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
    m_fileSize = GetFileSize(file.Get(), nullptr);
    if (m_fileSize == 0) return false;

    // Zeroed, so that a short read leaves only U+0000 units behind.
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[m_fileSize]());
    DWORD read = 0;
    if (buffer && ReadFile(file.Get(), buffer.get(), m_fileSize, &read, nullptr))
        ParseContent(buffer.get(), m_fileSize);
    return true;
}

void IniDocument::Parse(const unsigned char* bytes, unsigned long size) {
    Clear();
    if (bytes) ParseContent(bytes, size);
}

void IniDocument::ParseContent(const unsigned char* bytes, std::size_t size) {
    m_pCurrentSection = nullptr;
    const std::size_t count = size / 2;  // an odd last byte is ignored
    if (count == 0) return;

    wchar_t line[kLineMax + kChunk + 1];  // a full chunk fits even past the limit
    std::size_t length = 0;               // characters in the logical line so far
    std::size_t previous = 0;             // its length before the last chunk was appended
    std::size_t stop = kNone;             // where its first ";" or U+0000 lies
    // The first unit is read on its own: a byte-order mark (either order) is dropped, anything
    // else starts the first line as it stands, tab or not.
    const wchar_t first = UnitAt(bytes);
    if (first != 0xFEFF && first != 0xFFFE) {
        if (first == L';' || first == L'\0') stop = 0;
        line[length++] = first;
    }

    ChunkReader reader(bytes + 2, count - 1);
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
        ProcessLine(line, stop < length ? stop : length);
        length = 0;
        previous = 0;
        stop = kNone;
        // A full chunk that did not continue its line, or the end of the content, ends parsing.
        if (reader.Failed()) break;
    }
}

// `length` already ends before the line's first ";" or U+0000.
void IniDocument::ProcessLine(const wchar_t* line, std::size_t length) {
    std::size_t n = length;
    while (n > 0 && (line[n - 1] == L' ' || line[n - 1] == L'\r' || line[n - 1] == L'\n')) --n;
    if (n == 0 || line[0] == L'\r') return;
    if (line[0] == L'[')
        AddSection(line + 1, n - 1);
    else
        AddEntry(line, n);
}

void IniDocument::AddSection(const wchar_t* text, std::size_t length) {
    const std::size_t n = length < kNameMax ? length : kNameMax;
    // "]" or CR in either of the last two places ends the name: "[name]x" is "name".
    std::size_t end = n;
    if (n >= 1 && EndsName(text[n - 1])) end = n - 1;
    if (n >= 2 && EndsName(text[n - 2])) end = n - 2;
    std::size_t begin = 0;
    TrimSpaces(text, &begin, &end);

    std::unique_ptr<IniSection> section(new IniSection);
    std::wmemcpy(section->name, text + begin, end - begin);
    m_nameKeys.push_back(NameKey(section->name));
    try {
        m_sections.push_back(section.get());
    } catch (...) {
        m_nameKeys.pop_back();
        throw;
    }
    m_pCurrentSection = section.release();
}

void IniDocument::AddEntry(const wchar_t* line, std::size_t length) {
    if (!m_pCurrentSection) return;
    std::unique_ptr<IniEntry> entry(new IniEntry());
    const wchar_t* equals = std::wmemchr(line, L'=', length);
    if (equals) {
        std::size_t keyEnd = static_cast<std::size_t>(equals - line);
        if (keyEnd > kKeyMax) keyEnd = kKeyMax;
        std::size_t keyBegin = 0;
        TrimSpaces(line, &keyBegin, &keyEnd);
        std::wmemcpy(entry->key, line + keyBegin, keyEnd - keyBegin);

        // No trimming at the start: " = x" has the value " x".
        const wchar_t* value = equals + 1;
        std::size_t n = static_cast<std::size_t>(line + length - value);
        if (n > 0 && value[n - 1] == L'\r') --n;
        // A quote in either of the last two places ends the value, a leading one is dropped:
        // "\"x\"" and "\"x\"y" are both "x".
        std::size_t end = n;
        if (n >= 1 && value[n - 1] == L'"') end = n - 1;
        if (n >= 2 && value[n - 2] == L'"') end = n - 2;
        const std::size_t begin = (end > 0 && value[0] == L'"') ? 1 : 0;
        std::wmemcpy(entry->value, value + begin, end - begin);
    }
    m_pCurrentSection->entries.push_back(entry.get());
    entry.release();
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
