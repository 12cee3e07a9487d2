// IniDocument against real UTF-16 files and in-memory content: encodings, line assembly at the
// chunk boundaries, comments, headers, values, duplicates, case and lookups.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "config/ini_document.h"
#include "debug_capture.h"
#include "suite.h"
#include "utf16_file.h"

namespace {

using peltest::Utf16Bytes;

std::unique_ptr<IniDocument> ParseBytes(const std::string& bytes) {
    auto doc = std::make_unique<IniDocument>();
    doc->Parse(reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
    return doc;
}

std::unique_ptr<IniDocument> ParseText(const std::wstring& text, bool bom = true) {
    return ParseBytes(Utf16Bytes(text, bom));
}

// "[name]key=value|key=value|" for every section in order: the whole parse at a glance.
std::wstring Dump(const IniDocument& doc) {
    std::wstring out;
    for (const IniSection* section : doc.Sections()) {
        out += L"[" + std::wstring(section->name) + L"]";
        for (const IniEntry* entry : section->entries)
            out += std::wstring(entry->key) + L"=" + entry->value + L"|";
    }
    return out;
}

std::wstring Xs(size_t count) { return std::wstring(count, L'x'); }

// A "k=xxx" line of exactly `length` characters before its line end.
std::wstring EntryLine(size_t length) { return L"k=" + Xs(length - 2); }

class IniFileTest : public ::testing::Test {
protected:
    std::wstring FilePath(const std::wstring& name) const { return m_suite.Root() + L"\\" + name; }

    bool Load(IniDocument& doc, const std::wstring& text, bool bom = true) {
        const std::wstring path = FilePath(L"doc" + std::to_wstring(m_files++) + L".ini");
        EXPECT_TRUE(peltest::WriteUtf16File(path, text, bom));
        return doc.LoadFromFile(path.c_str());
    }

    bool LoadBytes(IniDocument& doc, const std::string& bytes) {
        const std::wstring path = FilePath(L"raw" + std::to_wstring(m_files++) + L".ini");
        EXPECT_TRUE(peltest::WriteBytes(path, bytes));
        return doc.LoadFromFile(path.c_str());
    }

    peltest::TestSuite m_suite{false};
    int m_files = 0;
};

// ---- Encodings and the byte-order mark ----

using IniEncoding = IniFileTest;

TEST_F(IniEncoding, MarkFfFeIsNotPartOfTheFirstLine) {
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\r\nk=v\r\n", true));
    EXPECT_EQ(Dump(doc), L"[s]k=v|");
}

TEST_F(IniEncoding, WithoutMarkTheFirstCharacterIsKept) {
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\r\nk=v\r\n", false));
    EXPECT_EQ(Dump(doc), L"[s]k=v|");
}

TEST_F(IniEncoding, FeFfIsDroppedAndTheRestReadLittleEndian) {
    // Big-endian text after FE FF reads as units like U+5B00: nothing usable.
    std::string bigEndian = "\xFE\xFF";
    for (wchar_t c : std::wstring(L"[s]\r\nk=v\r\n")) {
        bigEndian.push_back(static_cast<char>((c >> 8) & 0xFF));
        bigEndian.push_back(static_cast<char>(c & 0xFF));
    }
    IniDocument doc;
    ASSERT_TRUE(LoadBytes(doc, bigEndian));
    EXPECT_TRUE(doc.Sections().empty());

    // The same mark before little-endian text is simply dropped.
    IniDocument little;
    ASSERT_TRUE(LoadBytes(little, "\xFE\xFF" + Utf16Bytes(L"[s]\nk=v", false)));
    EXPECT_EQ(Dump(little), L"[s]k=v|");
}

TEST_F(IniEncoding, FirstCharacterTabWithoutMark) {
    // The unmarked first character stays as it is; the lines after it are read normally.
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"\t\r\n[s]\r\nk\t=\tv\r\n", false));
    EXPECT_EQ(Dump(doc), L"[s]k= v|");
}

TEST_F(IniEncoding, MarkInsideTheTextIsAnOrdinaryCharacter) {
    auto doc = ParseText(L"[s]\n\xFEFFk=v\n");
    ASSERT_NE(doc->FindSection(L"s"), nullptr);
    EXPECT_STREQ(doc->GetValue(L"s", L"\xFEFFk"), L"v");
    EXPECT_STREQ(doc->GetValue(L"s", L"k"), L"");
}

TEST_F(IniEncoding, OddSizeIgnoresTheLastByte) {
    IniDocument doc;
    ASSERT_TRUE(LoadBytes(doc, Utf16Bytes(L"[s]\nk=v") + "w"));
    EXPECT_EQ(doc.FileSize(), 2u + 14u + 1u);
    EXPECT_EQ(Dump(doc), L"[s]k=v|");
}

TEST_F(IniEncoding, UnitZeroEndsTheTextOfItsLine) {
    auto doc = ParseText(std::wstring(L"[s]\nk=v\0w\nj=1\n", 14));
    EXPECT_EQ(Dump(*doc), L"[s]k=v|j=1|");
}

// ---- Line ends and chunk boundaries ----

using IniLineEnds = IniFileTest;

TEST_F(IniLineEnds, CrLfAndBareLfGiveTheSameDocument) {
    const std::wstring lf = L"[a]\nk=1\n\n   \nj = 2 \n[b]\nx=\"y\"\n";
    std::wstring crlf;
    for (wchar_t c : lf) crlf += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
    IniDocument a, b;
    ASSERT_TRUE(Load(a, lf));
    ASSERT_TRUE(Load(b, crlf));
    EXPECT_EQ(Dump(a), L"[a]k=1|j= 2|[b]x=y|");
    EXPECT_EQ(Dump(b), Dump(a));
}

TEST_F(IniLineEnds, BareCrFileIsOneLongLine) {
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\nk=v\rj=w\r[t]\r"));
    EXPECT_EQ(Dump(doc), L"[s]k=v\rj=w\r[t]|");
    EXPECT_EQ(doc.FindSection(L"t"), nullptr);
}

TEST_F(IniLineEnds, LineStartingWithCarriageReturnIsIgnored) {
    auto doc = ParseText(L"[s]\n\rk=v\nj=1\n");
    EXPECT_EQ(Dump(*doc), L"[s]j=1|");
}

TEST_F(IniLineEnds, LinesUpTo2046BeforeCrLfArriveWhole) {
    for (size_t length : {1022u, 1023u, 1024u, 2045u, 2046u}) {
        IniDocument doc;
        ASSERT_TRUE(Load(doc, L"[s]\r\n" + EntryLine(length) + L"\r\nn=1\r\n"));
        EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(length - 2) + L"|n=1|") << length;
    }
}

TEST_F(IniLineEnds, LongerLinesAreCutTo2047) {
    for (size_t length : {2047u, 2048u, 3000u, 3069u, 3070u, 10000u}) {
        for (const wchar_t* end : {L"\n", L"\r\n"}) {
            IniDocument doc;
            ASSERT_TRUE(Load(doc, L"[s]\n" + EntryLine(length) + end + L"n=1\n"));
            // The rest of the physical line is dropped; reading goes on after it.
            EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(2045) + L"|n=1|") << length;
        }
    }
}

TEST_F(IniLineEnds, LinesOf1022And1024WithBareLfEnd) {
    for (size_t length : {1021u, 1022u, 1024u, 1025u, 2045u, 2047u}) {
        IniDocument doc;
        ASSERT_TRUE(Load(doc, L"[s]\n" + EntryLine(length) + L"\nn=1\n"));
        EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(std::min<size_t>(length, 2047) - 2) + L"|n=1|")
            << length;
    }
}

TEST_F(IniLineEnds, LineOf1023WithBareLfContinuesIntoTheNext) {
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\n" + EntryLine(1023) + L"\nn=1\nm=2\n"));
    EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(1021) + L"n=1|m=2|");
}

TEST_F(IniLineEnds, LineOf2046WithBareLfTakesOneCharacterOfTheNext) {
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\n" + EntryLine(2046) + L"\nnext=1\nm=2\n"));
    EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(2044) + L"n|m=2|");

    // When the next line is longer than a chunk, its rest is dropped likewise.
    IniDocument longer;
    ASSERT_TRUE(Load(longer, L"[s]\n" + EntryLine(2046) + L"\n" + EntryLine(1500) + L"\nm=2\n"));
    EXPECT_EQ(Dump(longer), L"[s]k=" + Xs(2044) + L"k|m=2|");
}

TEST_F(IniLineEnds, ContinuedLineCutOnAFullChunkDropsOnlyTheRestOfItsPhysicalLine) {
    // 1023 characters continue into a line of 2047, whose second full chunk holds the cut. A
    // stream read would fail there and end the document; the reader drops the rest of that
    // physical line only, and reads the header after it.
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\n" + EntryLine(1023) + L"\n" + Xs(2047) + L"\n[t]\nn=1\n"));
    EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(1021 + 1024) + L"|[t]n=1|");
}

TEST_F(IniLineEnds, TwoChunkLineOf1023AndCrLfIsNotJoined) {
    // 1023 characters: the CR falls into the second chunk and ends the line there.
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\r\n" + EntryLine(1023) + L"\r\n[t]\r\nn=1\r\n"));
    EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(1021) + L"|[t]n=1|");
}

TEST_F(IniLineEnds, CarriageReturnClosingAFullChunkEndsTheDocument) {
    // A CR in the last place of a full chunk ends the line; as more text follows on the same
    // physical line, the read failed and nothing after it is read.
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[s]\n" + EntryLine(1022) + L"\rtail\nn=1\n"));
    EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(1020) + L"|");
}

TEST_F(IniLineEnds, LastLineWithoutLineFeedIsRead) {
    for (size_t length : {5u, 1022u, 1023u, 1024u, 2046u, 2047u, 2048u}) {
        IniDocument doc;
        ASSERT_TRUE(Load(doc, L"[s]\n" + EntryLine(length)));
        EXPECT_EQ(Dump(doc), L"[s]k=" + Xs(std::min<size_t>(length, 2047) - 2) + L"|") << length;
    }
}

TEST_F(IniLineEnds, UnmarkedFirstLineCountsItsFirstCharacterApart) {
    // Without a mark the first character is read on its own, so a first line of 1022
    // characters and CR LF looks like a full chunk and swallows the next line.
    const std::wstring first = L"[s];" + Xs(1018) + L"\r\n";
    IniDocument marked, unmarked;
    ASSERT_TRUE(Load(marked, first + L"[t]\r\nk=v\r\n", true));
    ASSERT_TRUE(Load(unmarked, first + L"[t]\r\nk=v\r\n", false));
    EXPECT_EQ(Dump(marked), L"[s][t]k=v|");
    EXPECT_EQ(Dump(unmarked), L"[s]k=v|");

    // A first line longer than 1024 characters fills its first chunk without continuing:
    // reading stops after it.
    IniDocument stopped;
    ASSERT_TRUE(Load(stopped, L"[s];" + Xs(1100) + L"\r\n[t]\r\nk=v\r\n", false));
    EXPECT_EQ(Dump(stopped), L"[s]");
}

TEST_F(IniLineEnds, TabsBecomeSpaces) {
    auto doc = ParseText(L"[\ts\t]\n\tk\t=\tv\tw\t\n");
    EXPECT_EQ(Dump(*doc), L"[s]k= v w|");
}

// ---- Comments ----

TEST(IniComments, FirstSemicolonEndsTheLineAnywhere) {
    auto doc =
        ParseText(L";[hidden]\n[s] ; header comment\nk=v;w\nq=\"a;b\"\n  ;only\nj;=1\nz=1 ; c\n");
    // "\"a" loses its quote by the second-to-last rule and becomes empty; "j" has no "=".
    EXPECT_EQ(Dump(*doc), L"[s]k=v|q=|=|z=1|");
    EXPECT_EQ(doc->FindSection(L"hidden"), nullptr);
}

// ---- Headers ----

TEST(IniHeaders, ClosingBracketAndSpaces) {
    const struct {
        const wchar_t* line;
        const wchar_t* name;
    } cases[] = {
        {L"[name]", L"name"},
        {L"[  name  ]", L"name"},
        {L"[name]x", L"name"},
        {L"[name]xy", L"name]xy"},
        {L"[name", L"name"},
        {L"[a]]", L"a"},
        {L"[a b]", L"a b"},
        {L"[]", L""},
        {L"[ ]", L""},
        {L"[name\rx", L"name"},
        {L"[na\rme]", L"na\rme"},
        {L"[name]  ", L"name"},
        {L"[[x]]", L"[x"},
        {L"[=]", L"="},
        {L"[ a ] b", L"a ] b"},
    };
    for (const auto& c : cases) {
        auto doc = ParseText(std::wstring(c.line) + L"\nk=v\n");
        ASSERT_EQ(doc->Sections().size(), 1u) << c.line;
        EXPECT_STREQ(doc->Sections()[0]->name, c.name) << c.line;
        EXPECT_STREQ(doc->GetValue(c.name, L"k"), L"v") << c.line;
    }
}

TEST(IniHeaders, LeadingSpaceMakesAnEntryNotAHeader) {
    auto doc = ParseText(L"[s]\n [t]\nk=v\n");
    EXPECT_EQ(Dump(*doc), L"[s]=|k=v|");
    EXPECT_EQ(doc->FindSection(L"t"), nullptr);
}

TEST(IniHeaders, NameIsCutTo127Characters) {
    const std::wstring n126(126, L'n'), n127(127, L'n');
    auto doc = ParseText(L"[" + n126 + L"]\n[" + n127 + L"]\n[" + std::wstring(200, L'm') +
                         L"]\n[" + n126 + L"  ]\n[" + std::wstring(130, L' ') + L"x]\n");
    ASSERT_EQ(doc->Sections().size(), 5u);
    EXPECT_EQ(std::wstring(doc->Sections()[0]->name), n126);
    EXPECT_EQ(std::wstring(doc->Sections()[1]->name), n127);
    EXPECT_EQ(std::wstring(doc->Sections()[2]->name), std::wstring(127, L'm'));
    EXPECT_EQ(std::wstring(doc->Sections()[3]->name), n126);
    // The cut comes before the trimming: 127 spaces leave nothing.
    EXPECT_STREQ(doc->Sections()[4]->name, L"");
    EXPECT_EQ(doc->FindSection((n127 + L"n").c_str()), nullptr);
}

// ---- Entries: keys, values and quotes ----

TEST(IniValues, SplitAtTheFirstEqualsSign) {
    auto doc = ParseText(L"k0=v\n[s]\nk1=v\nk2 = v\n  k3  =v  \nk4=a=b\n=v5\nnovalue\nk6=\n");
    // The entry before the header belongs to no section.
    EXPECT_EQ(Dump(*doc), L"[s]k1=v|k2= v|k3=v|k4=a=b|=v5|=|k6=|");
}

TEST(IniValues, Quotes) {
    const struct {
        const wchar_t* written;
        const wchar_t* value;
    } cases[] = {
        {L"\"v\"", L"v"},     {L"\"v\"x", L"v"},      {L"ab\"c", L"ab"}, {L"ab\"", L"ab"},
        {L"\"ab", L"ab"},     {L"\"\"", L""},         {L"\"", L""},      {L"\"x", L""},
        {L"a\"b\"", L"a\"b"}, {L"  \"v\"", L"  \"v"}, {L"a\"b", L"a"},   {L"\"a b\" ", L"a b"},
    };
    for (const auto& c : cases) {
        auto doc = ParseText(L"[s]\nk=" + std::wstring(c.written) + L"\n");
        EXPECT_STREQ(doc->GetValue(L"s", L"k"), c.value) << c.written;
    }
}

TEST(IniValues, KeyIsCutTo127AndTrimmed) {
    const std::wstring k127(127, L'k');
    auto doc = ParseText(L"[s]\n" + k127 + L"=a\n" + std::wstring(200, L'j') + L"=b\n" +
                         std::wstring(126, L'i') + L" x=c\n");
    EXPECT_STREQ(doc->GetValue(L"s", k127.c_str()), L"a");
    EXPECT_STREQ(doc->GetValue(L"s", std::wstring(127, L'j').c_str()), L"b");
    EXPECT_STREQ(doc->GetValue(L"s", std::wstring(126, L'i').c_str()), L"c");
    EXPECT_EQ(doc->FindSection(L"s")->FindEntry((k127 + L"k").c_str()), nullptr);
}

TEST(IniValues, LongestValue) {
    auto doc = ParseText(L"[s]\n=" + Xs(2100) + L"\n");
    EXPECT_EQ(std::wstring(doc->GetValue(L"s", L"")), Xs(2046));
}

// ---- Repeated sections and keys ----

TEST(IniDuplicates, FirstSectionAndFirstKeyWin) {
    auto doc = ParseText(L"[s]\nk=1\nK=2\n[t]\nk=3\n[S]\nk=4\nj=5\n");
    ASSERT_EQ(doc->Sections().size(), 3u);
    EXPECT_EQ(doc->FindSection(L"s"), doc->Sections()[0]);
    EXPECT_STREQ(doc->GetValue(L"s", L"k"), L"1");
    EXPECT_STREQ(doc->GetValue(L"S", L"j"), L"");  // only under the unreachable second [S]
    EXPECT_STREQ(doc->Sections()[2]->GetValue(L"j"), L"5");
    EXPECT_EQ(doc->Sections()[0]->entries.size(), 2u);
}

// ---- Case ----

TEST(IniCase, OnlyAToZAreFolded) {
    auto doc = ParseText(
        L"[Active]\nActive=a\n[\x00C4rger]\n\x00C9t\x00E9=b\n[x@{]\nk^=c\n[\xFF21\x03A3]\nq=d\n");
    EXPECT_STREQ(doc->GetValue(L"ACTIVE", L"active"), L"a");
    EXPECT_STREQ(doc->GetValue(L"active", L"ACTIVE"), L"a");
    EXPECT_STREQ(doc->GetValue(L"\x00C4RGER", L"\x00C9T\x00E9"), L"b");
    EXPECT_EQ(doc->FindSection(L"\x00E4rger"), nullptr);
    EXPECT_STREQ(doc->GetValue(L"\x00C4rger", L"\x00E9t\x00E9"), L"");
    // The neighbours of A-Z in the code table are not letters.
    EXPECT_NE(doc->FindSection(L"X@{"), nullptr);
    EXPECT_EQ(doc->FindSection(L"x`{"), nullptr);
    EXPECT_EQ(doc->FindSection(L"x@["), nullptr);
    EXPECT_STREQ(doc->GetValue(L"x@{", L"K^"), L"c");
    EXPECT_STREQ(doc->GetValue(L"x@{", L"k~"), L"");
    EXPECT_NE(doc->FindSection(L"\xFF21\x03A3"), nullptr);
    EXPECT_EQ(doc->FindSection(L"\xFF41\x03C3"), nullptr);
}

// ---- Lookups ----

TEST(IniLookups, NullAndMissingNames) {
    auto doc = ParseText(L"[s]\nk=v\n");
    const IniSection* section = doc->FindSection(L"s");
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(doc->FindSection(nullptr), nullptr);
    EXPECT_EQ(section->FindEntry(nullptr), nullptr);

    const wchar_t* empty = doc->GetValue(L"missing", L"k");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, L"");
    // Every miss hands out the same shared empty string.
    EXPECT_EQ(doc->GetValue(nullptr, L"k"), empty);
    EXPECT_EQ(doc->GetValue(L"s", nullptr), empty);
    EXPECT_EQ(doc->GetValue(L"s", L"missing"), empty);
    EXPECT_EQ(section->GetValue(nullptr), empty);
    EXPECT_EQ(IniDocument().GetValue(L"s", L"k"), empty);
    EXPECT_STREQ(doc->GetValue(L"s", L"k"), L"v");
}

// ---- Files ----

using IniFiles = IniFileTest;

TEST_F(IniFiles, EmptyAndOneByteFiles) {
    IniDocument empty;
    EXPECT_FALSE(LoadBytes(empty, ""));
    EXPECT_EQ(empty.FileSize(), 0u);

    IniDocument oneByte;
    EXPECT_TRUE(LoadBytes(oneByte, "["));
    EXPECT_EQ(oneByte.FileSize(), 1u);
    EXPECT_TRUE(oneByte.Sections().empty());

    IniDocument markOnly;
    EXPECT_TRUE(LoadBytes(markOnly, "\xFF\xFE"));
    EXPECT_TRUE(markOnly.Sections().empty());
}

TEST_F(IniFiles, MissingFileAndReload) {
    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[a]\nk=1\n"));
    EXPECT_EQ(doc.FileSize(), 2u + 16u);
    ASSERT_TRUE(Load(doc, L"[b]\nk=2\n"));
    EXPECT_EQ(Dump(doc), L"[b]k=2|");

    const std::wstring missing = FilePath(L"missing.ini");
    EXPECT_FALSE(doc.LoadFromFile(missing.c_str()));
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_STREQ(doc.Path(), missing.c_str());
    EXPECT_FALSE(doc.LoadFromFile(nullptr));
}

TEST_F(IniFiles, PathsOf259And260Characters) {
    const std::wstring dir = FilePath(L"d");
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    const size_t used = dir.size() + 1;
    ASSERT_LT(used + 10, 259u);
    const std::wstring path259 = dir + L"\\" + std::wstring(259 - used - 4, L'f') + L".ini";
    const std::wstring path260 = dir + L"\\" + std::wstring(260 - used - 4, L'f') + L".ini";
    ASSERT_EQ(path259.size(), 259u);
    ASSERT_EQ(path260.size(), 260u);
    ASSERT_TRUE(peltest::WriteUtf16File(L"\\\\?\\" + path259, L"[s]\nk=259\n"));
    ASSERT_TRUE(peltest::WriteUtf16File(L"\\\\?\\" + path260, L"[s]\nk=260\n"));

    IniDocument doc;
    ASSERT_TRUE(doc.LoadFromFile(path259.c_str()));
    EXPECT_STREQ(doc.GetValue(L"s", L"k"), L"259");
    EXPECT_EQ(std::wstring(doc.Path()), path259);

    EXPECT_FALSE(doc.LoadFromFile(path260.c_str()));
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_STREQ(doc.Path(), L"");

    DeleteFileW((L"\\\\?\\" + path260).c_str());
}

TEST_F(IniFiles, DocumentOverTheSizeLimitIsRefusedBeforeItIsRead) {
    // The files grow without being written: past their text they read as U+0000 units, which
    // end the reading of a document that is read at all.
    const std::wstring path = FilePath(L"large.ini");
    const std::string narrowPath(path.begin(), path.end());
    ASSERT_TRUE(peltest::WriteUtf16File(path, L"[s]\r\nk=v\r\n"));
    const unsigned long long limit = IniDocument::kMaxFileSize;
    ASSERT_EQ(limit, 32ull << 20);

    IniDocument doc;
    ASSERT_TRUE(Load(doc, L"[old]\nk=1\n"));
    peltest::DebugCapture capture;
    ASSERT_TRUE(peltest::SetFileSize(path, limit + 2));
    EXPECT_FALSE(doc.LoadFromFile(path.c_str()));
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_EQ(doc.FileSize(), limit + 2);
    EXPECT_EQ(capture.Texts(),
              (std::vector<std::string>{"IniDocument::LoadFromFile " + narrowPath +
                                        " is too large (33554434 bytes, limit 33554432)"}));

    // A size beyond 32 bits is not taken for its low part.
    capture.Clear();
    ASSERT_TRUE(peltest::SetFileSize(path, (1ull << 32) + 20));
    EXPECT_FALSE(doc.LoadFromFile(path.c_str()));
    EXPECT_TRUE(doc.Sections().empty());
    EXPECT_EQ(capture.Texts(),
              (std::vector<std::string>{"IniDocument::LoadFromFile " + narrowPath +
                                        " is too large (4294967316 bytes, limit 33554432)"}));

    capture.Clear();
    ASSERT_TRUE(peltest::SetFileSize(path, limit));
    EXPECT_TRUE(doc.LoadFromFile(path.c_str()));
    EXPECT_EQ(Dump(doc), L"[s]k=v|");
    EXPECT_TRUE(capture.Texts().empty());
    DeleteFileW(path.c_str());
}

}  // namespace
