// Reader for the loader's UTF-16 INI-style documents: the component list and the menu
// documents. Read once from a file, queried by section and key, never written back.
//
// Memory follows the file's size, not its number of lines: the document keeps the file's
// units in one buffer and turns each logical line into its texts in place (tabs as spaces,
// each text terminated where it ends), so names, keys and values point into that buffer.
// Sections and entries are small records of those pointers. Peak memory is about twice the
// file's size for documents of short lines.
//
// Limits, and what the reader does beyond them:
// - A file larger than kMaxFileSize bytes is refused before it is read: LoadFromFile reports it
//   and returns false, as for a file that cannot be opened.
// - A header delivers at most 127 characters: the text after "[" is cut to its first 127
//   characters before the closing bracket and the spaces are removed.
// - A key is cut to the first 127 characters before the "=" and then trimmed of spaces.
// - A logical line holds 2047 characters. The rest of the physical line in which its 2047th
//   character lies is dropped up to the line feed; reading goes on with the next line.
//   Deliberately so also where a stream reading the document by getline(buffer, 1024) would
//   end the whole document without a word: a line continued after a physical line of exactly
//   1023 or 2046 characters (its full chunks look like a partial line) and cut on a full chunk
//   of the next physical line, even when that line has at most 2047 characters. Smallest case:
//   1023 characters, a line feed, 2047 characters, a line feed, "[s]": the stream never sees
//   "[s]"; this reader drops the last 1023 characters of the second line and reads "[s]".
// - A U+0000 unit ends the text of its line (it still counts towards the line's length).
// - LoadFromFile refuses a null path and a path of 260 characters or more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// Texts point into the document that read them and stay valid until it is loaded again or
// deleted.
class IniEntry {
public:
    const wchar_t* key;    // at most 127 characters, trimmed of spaces
    const wchar_t* value;  // at most 2047 characters, taken as written after "="
};

// The entries of one section, in file order: a run of the document's entry records.
class IniEntryList {
public:
    class Iterator {
    public:
        Iterator(const IniEntryList* list, std::size_t index) : m_list(list), m_index(index) {}
        IniEntry* operator*() const { return (*m_list)[m_index]; }
        Iterator& operator++() {
            ++m_index;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return m_index != other.m_index; }

    private:
        const IniEntryList* m_list;
        std::size_t m_index;
    };

    IniEntryList(std::deque<IniEntry>* store, std::size_t first)
        : m_store(store), m_first(static_cast<std::uint32_t>(first)) {}

    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    IniEntry* operator[](std::size_t i) const { return &(*m_store)[m_first + i]; }
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, m_count); }

private:
    friend class IniDocument;

    std::deque<IniEntry>* m_store;
    std::uint32_t m_first;
    std::uint32_t m_count = 0;
};

class IniSection {
public:
    IniSection(const wchar_t* sectionName, std::deque<IniEntry>* entryStore)
        : name(sectionName), entries(entryStore, entryStore->size()) {}
    ~IniSection() = default;
    IniSection(const IniSection&) = delete;
    IniSection& operator=(const IniSection&) = delete;

    // First entry whose key equals `key`, A-Z folded; null when absent or `key` is null.
    IniEntry* FindEntry(const wchar_t* key) const;
    // Value of FindEntry(key), or the shared empty string. Never null.
    const wchar_t* GetValue(const wchar_t* key) const;

    const wchar_t* name;  // at most 127 characters, trimmed of spaces
    IniEntryList entries;
};

class IniDocument {
public:
    // Far above any configuration document, far below what a 32-bit process cannot spare.
    static constexpr unsigned long kMaxFileSize = 32ul << 20;

    IniDocument();
    ~IniDocument();
    IniDocument(const IniDocument&) = delete;
    IniDocument& operator=(const IniDocument&) = delete;

    // Discards what was read before, then reads and parses the file. False when the file cannot
    // be opened, is empty or larger than kMaxFileSize bytes, or the path has 260 characters or
    // more.
    bool LoadFromFile(const wchar_t* path);
    // First section whose name equals `name`, A-Z folded; null when absent or `name` is null.
    IniSection* FindSection(const wchar_t* name) const;
    // Value of `key` in section `section`, or the shared empty string. Never null.
    const wchar_t* GetValue(const wchar_t* section, const wchar_t* key) const;

    const std::vector<IniSection*>& Sections() const { return m_sections; }
    const wchar_t* Path() const { return m_path; }
    unsigned long FileSize() const { return m_fileSize; }

    // Parses UTF-16LE content already in memory (the file's bytes) as LoadFromFile does.
    void Parse(const unsigned char* bytes, unsigned long size);

private:
    void Clear();
    void ParseText(std::size_t count);
    wchar_t* ProcessLine(wchar_t* line, std::size_t length);
    wchar_t* AddSection(wchar_t* text, std::size_t length);
    wchar_t* AddEntry(wchar_t* line, std::size_t length);

    // The content's units and one more; every text of the document lies in it.
    std::unique_ptr<wchar_t[]> m_text;
    std::deque<IniEntry> m_entries;
    std::deque<IniSection> m_sectionRecords;
    std::vector<IniSection*> m_sections;
    // Folded hash of each section's name, by index: the linear scan skips most sections
    // without touching them. Names are not to be changed once parsed.
    std::vector<std::uint32_t> m_nameKeys;
    wchar_t m_path[260];
    unsigned long m_fileSize;
    IniSection* m_pCurrentSection;
};
