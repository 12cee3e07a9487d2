// Random and mutated documents through IniDocument::Parse: the bounded fields hold, lookups
// find the first section and entry of a name, and the parse matches a reference reader built
// on a real wide stream's getline(buffer, 1024).
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "config/ini_document.h"
#include "utf16_file.h"

namespace {

struct Section {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> entries;
};
using Model = std::vector<Section>;

void TrimSpaces(std::wstring& s) {
    const size_t first = s.find_first_not_of(L' ');
    s.erase(0, first == std::wstring::npos ? s.size() : first);
    while (!s.empty() && s.back() == L' ') s.pop_back();
}

void ModelLine(const wchar_t* accumulator, Model& model, bool& inSection) {
    std::wstring line(accumulator);  // a U+0000 ends the text
    line = line.substr(0, line.find(L';'));
    while (!line.empty() && (line.back() == L' ' || line.back() == L'\r' || line.back() == L'\n'))
        line.pop_back();
    if (line.empty() || line[0] == L'\r') return;
    if (line[0] == L'[') {
        std::wstring name = line.substr(1, 127);
        const size_t n = name.size();
        size_t end = n;
        if (n >= 1 && (name[n - 1] == L']' || name[n - 1] == L'\r')) end = n - 1;
        if (n >= 2 && (name[n - 2] == L']' || name[n - 2] == L'\r')) end = n - 2;
        name.resize(end);
        TrimSpaces(name);
        model.push_back({name, {}});
        inSection = true;
        return;
    }
    if (!inSection) return;
    std::wstring key, value;
    const size_t equals = line.find(L'=');
    if (equals != std::wstring::npos) {
        key = line.substr(0, std::min<size_t>(equals, 127));
        value = line.substr(equals + 1);
        if (!value.empty() && value.back() == L'\r') value.pop_back();
        const size_t n = value.size();
        size_t end = n;
        if (n >= 1 && value[n - 1] == L'"') end = n - 1;
        if (n >= 2 && value[n - 2] == L'"') end = n - 2;
        value.resize(end);
        if (!value.empty() && value[0] == L'"') value.erase(0, 1);
        TrimSpaces(key);
    }
    model.back().entries.push_back({key, value});
}

// The reader as a wide stream delivers it; past the 2047th character of a line the rest of
// the physical line is skipped, as the reader under test does. U+FFFF must not occur: this
// stream takes it for the end of input.
Model ReferenceParse(const std::wstring& units) {
    Model model;
    bool inSection = false;
    std::wistringstream in(units);
    wchar_t first = 0;
    if (!in.get(first)) return model;
    wchar_t line[2048] = {};
    wchar_t chunk[1024] = {};
    size_t length = 0, previous = 0;
    if (first != 0xFEFF && first != 0xFFFE) line[length++] = first;
    for (;;) {
        in.getline(chunk, 1024);
        const bool lineFeed = !in.fail() && !in.eof();
        const size_t chunkLength = static_cast<size_t>(in.gcount()) - (lineFeed ? 1 : 0);
        for (size_t i = 0; i < chunkLength; ++i)
            if (chunk[i] == L'\t') chunk[i] = L' ';
        bool complete = true;
        if (chunkLength >= 2047 - length) {
            std::memcpy(line + length, chunk, (2047 - length) * sizeof(wchar_t));
            length = 2047;
            if (in.fail()) {
                in.clear();
                in.ignore(std::numeric_limits<std::streamsize>::max(), L'\n');
            }
        } else {
            std::memcpy(line + length, chunk, chunkLength * sizeof(wchar_t));
            length += chunkLength;
            complete = !(length > previous && length % 1023 == 0 && chunk[1022] != L'\r');
        }
        if (!complete) {
            previous = length;
            in.clear();
            continue;
        }
        ModelLine(line, model, inSection);
        std::memset(line, 0, sizeof(line));
        length = previous = 0;
        if (in.fail()) break;
    }
    return model;
}

Model Snapshot(const IniDocument& doc) {
    Model model;
    for (const IniSection* section : doc.Sections()) {
        model.push_back({section->name, {}});
        for (const IniEntry* entry : section->entries)
            model.back().entries.push_back({entry->key, entry->value});
    }
    return model;
}

wchar_t FoldAZ(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c | 0x20) : c; }

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAZ(a[i]) != FoldAZ(b[i])) return false;
    return true;
}

std::wstring SwapCase(std::wstring s) {
    for (wchar_t& c : s) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c + 32);
        else if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - 32);
    }
    return s;
}

// Terminated inside its field, at most `limit` characters, no space at either end.
void CheckField(const wchar_t* field, size_t capacity, size_t limit, bool trimmed) {
    const wchar_t* end = static_cast<const wchar_t*>(std::wmemchr(field, L'\0', capacity));
    ASSERT_NE(end, nullptr);
    const size_t length = static_cast<size_t>(end - field);
    EXPECT_LE(length, limit);
    if (trimmed && length > 0) {
        EXPECT_NE(field[0], L' ');
        EXPECT_NE(field[length - 1], L' ');
    }
    // Comments, line feeds and tabs never survive into a field.
    for (size_t i = 0; i < length; ++i) {
        EXPECT_NE(field[i], L';');
        EXPECT_NE(field[i], L'\n');
        EXPECT_NE(field[i], L'\t');
    }
}

void CheckInvariants(const IniDocument& doc) {
    const auto& sections = doc.Sections();
    for (size_t i = 0; i < sections.size(); ++i) {
        const IniSection* section = sections[i];
        CheckField(section->name, 2048, 127, true);
        size_t first = 0;
        while (!SameName(sections[first]->name, section->name)) ++first;
        EXPECT_EQ(doc.FindSection(section->name), sections[first]);
        EXPECT_EQ(doc.FindSection(SwapCase(section->name).c_str()), sections[first]);

        for (size_t j = 0; j < section->entries.size(); ++j) {
            const IniEntry* entry = section->entries[j];
            CheckField(entry->key, 128, 127, true);
            CheckField(entry->value, 2048, 2047, false);
            size_t firstEntry = 0;
            while (!SameName(section->entries[firstEntry]->key, entry->key)) ++firstEntry;
            EXPECT_EQ(section->FindEntry(SwapCase(entry->key).c_str()),
                      section->entries[firstEntry]);
            const wchar_t* value = doc.GetValue(section->name, entry->key);
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(value, sections[first]->GetValue(entry->key));
        }
        ASSERT_NE(doc.GetValue(section->name, L"\x1234no such key"), nullptr);
    }
    ASSERT_NE(doc.GetValue(L"\x1234no such section", L"k"), nullptr);
}

class DocumentGenerator {
public:
    explicit DocumentGenerator(unsigned seed) : m_random(seed) {}

    std::wstring Document() {
        std::wstring text;
        const int mark = Pick(4);
        if (mark == 0) text += L'\xFEFF';
        if (mark == 1) text += L'\xFFFE';
        const int lines = Pick(40);
        for (int i = 0; i < lines; ++i) text += Line() + LineEnd();
        return text;
    }

    // Flips, inserts, deletes and duplicates units of a document.
    std::wstring Mutate(std::wstring text) {
        const int edits = 1 + Pick(8);
        for (int i = 0; i < edits && !text.empty(); ++i) {
            const size_t at = static_cast<size_t>(Pick(static_cast<int>(text.size())));
            switch (Pick(5)) {
                case 0:
                    text[at] = Char();
                    break;
                case 1:
                    text.insert(at, 1, Char());
                    break;
                case 2:
                    text.erase(at, 1 + Pick(40));
                    break;
                case 3:
                    text.insert(at, text.substr(at, Pick(3000)));
                    break;
                default:  // any unit but U+FFFF
                    text[at] = static_cast<wchar_t>(Pick(0xFFFF));
                    break;
            }
        }
        return text;
    }

    int Pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(m_random); }

private:
    wchar_t Char() {
        static const wchar_t kSpecial[] = L" \t=\";[]\r\nAaZz@`{\x00C4\x00E4\xFEFF";
        if (Pick(8) == 0) return L'\0';
        constexpr int kSpecials = sizeof(kSpecial) / sizeof(kSpecial[0]) - 1;
        if (Pick(3) == 0) return kSpecial[Pick(kSpecials)];
        return static_cast<wchar_t>((Pick(2) ? L'a' : L'A') + Pick(4));
    }

    std::wstring Text(size_t length) {
        std::wstring s;
        for (size_t i = 0; i < length; ++i)
            s += Pick(6) ? static_cast<wchar_t>(L'a' + Pick(3)) : Char();
        return s;
    }

    size_t Length() {
        static const size_t kEdges[] = {0,    1,    126,  127,  128,  1021, 1022, 1023,
                                        1024, 1025, 2045, 2046, 2047, 2048, 3069, 3070};
        if (Pick(3) == 0) return kEdges[Pick(sizeof(kEdges) / sizeof(kEdges[0]))];
        return static_cast<size_t>(Pick(Pick(10) == 0 ? 5000 : 12));
    }

    // A line of exactly `length` characters, padded or cut.
    static std::wstring Sized(std::wstring line, size_t length, wchar_t pad) {
        line.resize(length, pad);
        return line;
    }

    std::wstring Line() {
        const wchar_t pads[] = {L'x', L' ', L'\t', L'"'};
        const wchar_t pad = pads[Pick(4)];
        std::wstring line;
        switch (Pick(7)) {
            case 0:
                line = L"[" + Text(Pick(6)) + (Pick(2) ? L"]" : L"") + Text(Pick(3));
                break;
            case 5:
                line = Sized(Text(2), Length(), pad) + L"=" + Text(Pick(5));
                break;
            case 1:
                line = Text(Pick(6)) + L"=" + Text(Pick(10));
                break;
            case 2:
                line = L" " + Text(2) + L" = \"" + Text(Pick(6)) + L"\" ;" + Text(3);
                break;
            case 3:
                line = L";" + Text(Pick(10));
                break;
            case 4:
                line = Text(Pick(4));
                break;
            default:
                return Sized(Pick(2) ? L"[" + Text(3) : Text(2) + L"=", Length(), pad) +
                       (Pick(3) == 0 ? L"\r" + Text(Pick(4)) : L"");
        }
        return Pick(4) == 0 ? Sized(line, Length(), pad) : line;
    }

    std::wstring LineEnd() {
        switch (Pick(6)) {
            case 0:
                return L"\n";
            case 1:
                return L"\r";
            case 2:
                return L"";
            default:
                return L"\r\n";
        }
    }

    std::mt19937 m_random;
};

void ParseAndCheck(const std::wstring& units, bool oddByte, unsigned round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::string bytes = peltest::Utf16Bytes(units, false);
    if (oddByte) bytes.push_back('\x5B');
    IniDocument doc;
    doc.Parse(reinterpret_cast<const unsigned char*>(bytes.data()),
              static_cast<unsigned long>(bytes.size()));
    CheckInvariants(doc);
    // The reference stream ends at U+FFFF, the reader does not: compare only without it.
    if (units.find(L'\xFFFF') == std::wstring::npos) {
        const Model expected = ReferenceParse(units);
        const Model actual = Snapshot(doc);
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t i = 0; i < actual.size(); ++i) {
            ASSERT_EQ(actual[i].name, expected[i].name) << "section " << i;
            ASSERT_EQ(actual[i].entries, expected[i].entries) << "section " << i;
        }
    }
}

TEST(IniFuzz, GeneratedDocuments) {
    DocumentGenerator generator(20240611u);
    for (unsigned round = 0; round < 3000; ++round) {
        ParseAndCheck(generator.Document(), generator.Pick(8) == 0, round);
        if (HasFailure()) return;
    }
}

TEST(IniFuzz, MutatedDocuments) {
    DocumentGenerator generator(77003u);
    std::wstring seed = L"\xFEFF[Active]\r\nActive=a,b\r\n[a]\r\nloader=1\r\nid = \"x\"\r\n";
    for (unsigned round = 0; round < 3000; ++round) {
        if (round % 50 == 0) seed = generator.Document();
        ParseAndCheck(generator.Mutate(seed), generator.Pick(8) == 0, round);
        if (HasFailure()) return;
    }
}

}  // namespace
