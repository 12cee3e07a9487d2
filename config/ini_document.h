// Reader for the loader's UTF-16 INI-style documents: the component list and the menu
// documents. Read once from a file, queried by section and key, never written back.
#pragma once

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

    std::vector<IniSection*> m_sections;
    wchar_t m_path[260];
    unsigned long m_fileSize;
    IniSection* m_pCurrentSection;
};
