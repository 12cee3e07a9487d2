// Reader for the loader's UTF-16 INI-style documents: the component list and the menu
// documents. Read once from a file, queried by section and key, never written back.
//
// Limits of the fixed fields, and what the reader does beyond them:
// - A header delivers at most 127 characters: the text after "[" is cut to its first 127
//   characters before the closing bracket and the spaces are removed.
// - A key is cut to the first 127 characters before the "=" and then trimmed of spaces.
// - A logical line holds 2047 characters. The rest of the physical line in which its 2047th
//   character lies is dropped up to the line feed; reading goes on with the next line.
// - A U+0000 unit ends the text of its line (it still counts towards the line's length).
// - LoadFromFile refuses a null path and a path of 260 characters or more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class IniEntry {
public:
    wchar_t key[128];     // at most 127 characters, trimmed of spaces
    wchar_t value[2048];  // at most 2047 characters, taken as written after "="
};

class IniSection {
public:
    IniSection();
    ~IniSection();
    IniSection(const IniSection&) = delete;
    IniSection& operator=(const IniSection&) = delete;

    // First entry whose key equals `key`, A-Z folded; null when absent or `key` is null.
    IniEntry* FindEntry(const wchar_t* key) const;
    // Value of FindEntry(key), or the shared empty string. Never null.
    const wchar_t* GetValue(const wchar_t* key) const;

    wchar_t name[2048];  // at most 127 characters are ever stored
    std::vector<IniEntry*> entries;
};

class IniDocument {
public:
    IniDocument();
    ~IniDocument();
    IniDocument(const IniDocument&) = delete;
    IniDocument& operator=(const IniDocument&) = delete;

    // Discards what was read before, then reads and parses the file. False when the file cannot
    // be opened, is empty, or the path has 260 characters or more.
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
    void ParseContent(const unsigned char* bytes, std::size_t size);
    void ProcessLine(const wchar_t* line, std::size_t length);
    void AddSection(const wchar_t* text, std::size_t length);
    void AddEntry(const wchar_t* line, std::size_t length);

    std::vector<IniSection*> m_sections;
    // Folded hash of each section's name, by index: the linear scan skips most sections
    // without touching them. Names are not to be changed once parsed.
    std::vector<std::uint32_t> m_nameKeys;
    wchar_t m_path[260];
    unsigned long m_fileSize;
    IniSection* m_pCurrentSection;
};
