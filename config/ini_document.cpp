// Placeholder: the reader arrives with its own change.
#include "config/ini_document.h"
static const wchar_t kEmpty[] = L"";
IniSection::IniSection() : name{} {}
IniSection::~IniSection() { for (IniEntry* e : entries) delete e; }
IniEntry* IniSection::FindEntry(const wchar_t*) const { return nullptr; }
const wchar_t* IniSection::GetValue(const wchar_t*) const { return kEmpty; }
IniDocument::IniDocument() : m_path{}, m_fileSize(0), m_pCurrentSection(nullptr) {}
IniDocument::~IniDocument() { Clear(); }
void IniDocument::Clear() { for (IniSection* s : m_sections) delete s; m_sections.clear(); }
bool IniDocument::LoadFromFile(const wchar_t*) { return false; }
IniSection* IniDocument::FindSection(const wchar_t*) const { return nullptr; }
const wchar_t* IniDocument::GetValue(const wchar_t*, const wchar_t*) const { return kEmpty; }
void IniDocument::Parse(const unsigned char*, unsigned long) {}
