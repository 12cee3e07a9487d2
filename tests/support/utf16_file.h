// Writes documents the way the suite's tools do: UTF-16LE, optionally with a byte-order mark;
// and raw bytes both ways.
#pragma once

#include <string>

namespace peltest {

// `text` as UTF-16LE code units, with FF FE first when `bom`.
std::string Utf16Bytes(const std::wstring& text, bool bom = true);
// Writes Utf16Bytes(text, bom); true on success.
bool WriteUtf16File(const std::wstring& path, const std::wstring& text, bool bom = true);
// Writes raw bytes.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Sets the size of an existing file without writing it: what it grows by reads as zero bytes.
bool SetFileSize(const std::wstring& path, unsigned long long size);
// Reads a whole file, also one that another program still has open for writing; false when it
// cannot be opened.
bool ReadBytes(const std::wstring& path, std::string* bytes);

}  // namespace peltest
