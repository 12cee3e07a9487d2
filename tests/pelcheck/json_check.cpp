#include "json_check.h"

#include <cstdlib>

namespace peltest {
namespace {

const JsonValue& NullValue() {
    static const JsonValue null;
    return null;
}

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) {}

    bool Document(JsonValue* value) {
        Blank();
        if (!Value(value, 0)) return false;
        Blank();
        return m_pos == m_text.size() || Fail("text after the value");
    }
    const std::string& Error() const { return m_error; }

private:
    bool Fail(const std::string& why) {
        if (m_error.empty()) m_error = why + " at offset " + std::to_string(m_pos);
        return false;
    }
    bool AtEnd() const { return m_pos >= m_text.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }
    void Blank() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
            ++m_pos;
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (m_text.compare(m_pos, w.size(), w) != 0) return Fail("bad literal");
        m_pos += w.size();
        return true;
    }

    bool Value(JsonValue* value, int depth) {
        if (depth > 64) return Fail("nested too deeply");
        switch (Peek()) {
            case '{':
                return Object(value, depth);
            case '[':
                return Array(value, depth);
            case '"':
                value->type = JsonValue::Type::kString;
                return String(&value->text);
            case 't':
                value->type = JsonValue::Type::kBool;
                value->boolean = true;
                return Literal("true");
            case 'f':
                value->type = JsonValue::Type::kBool;
                return Literal("false");
            case 'n':
                value->type = JsonValue::Type::kNull;
                return Literal("null");
            default:
                return Number(value);
        }
    }

    // The comma-separated entries between the opening bracket at the current position and
    // `close`, each read by `entry`.
    template <class Entry>
    bool Entries(char close, Entry entry) {
        ++m_pos;
        Blank();
        if (Peek() == close) {
            ++m_pos;
            return true;
        }
        for (;;) {
            Blank();
            if (!entry()) return false;
            Blank();
            if (Peek() == ',') {
                ++m_pos;
                continue;
            }
            if (Peek() == close) {
                ++m_pos;
                return true;
            }
            return Fail(std::string("expected ',' or '") + close + "'");
        }
    }

    bool Object(JsonValue* value, int depth) {
        value->type = JsonValue::Type::kObject;
        return Entries('}', [&] {
            if (Peek() != '"') return Fail("expected a member name");
            std::string key;
            if (!String(&key)) return false;
            Blank();
            if (Peek() != ':') return Fail("expected ':'");
            ++m_pos;
            Blank();
            JsonValue member;
            if (!Value(&member, depth + 1)) return false;
            value->members.emplace_back(key, std::move(member));
            return true;
        });
    }

    bool Array(JsonValue* value, int depth) {
        value->type = JsonValue::Type::kArray;
        return Entries(']', [&] {
            JsonValue item;
            if (!Value(&item, depth + 1)) return false;
            value->items.push_back(std::move(item));
            return true;
        });
    }

    bool Number(JsonValue* value) {
        const size_t start = m_pos;
        if (Peek() == '-') ++m_pos;
        if (Peek() == '0') {
            ++m_pos;
        } else if (Peek() >= '1' && Peek() <= '9') {
            while (Peek() >= '0' && Peek() <= '9') ++m_pos;
        } else {
            return Fail("expected a value");
        }
        if (Peek() == '.') {
            ++m_pos;
            if (!(Peek() >= '0' && Peek() <= '9')) return Fail("bad fraction");
            while (Peek() >= '0' && Peek() <= '9') ++m_pos;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++m_pos;
            if (Peek() == '+' || Peek() == '-') ++m_pos;
            if (!(Peek() >= '0' && Peek() <= '9')) return Fail("bad exponent");
            while (Peek() >= '0' && Peek() <= '9') ++m_pos;
        }
        value->type = JsonValue::Type::kNumber;
        value->number = std::strtod(m_text.substr(start, m_pos - start).c_str(), nullptr);
        return true;
    }

    static void AppendUtf8(std::string* out, unsigned code) {
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else if (code < 0x800) {
            *out += static_cast<char>(0xC0 | (code >> 6));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out += static_cast<char>(0xE0 | (code >> 12));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (code >> 18));
            *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Hex4(unsigned* code) {
        *code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = Peek();
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            else
                return Fail("bad \\u escape");
            *code = *code * 16 + digit;
            ++m_pos;
        }
        return true;
    }

    // One well-formed UTF-8 sequence of raw text.
    bool RawUtf8(std::string* out) {
        const unsigned char lead = static_cast<unsigned char>(Peek());
        int extra;
        unsigned code;
        if (lead < 0x80) {
            extra = 0;
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            code = lead & 0x07;
        } else {
            return Fail("malformed UTF-8");
        }
        const size_t start = m_pos++;
        for (int i = 0; i < extra; ++i) {
            const unsigned char next = static_cast<unsigned char>(Peek());
            if ((next & 0xC0) != 0x80) return Fail("malformed UTF-8");
            code = (code << 6) | (next & 0x3F);
            ++m_pos;
        }
        static const unsigned kMin[] = {0, 0x80, 0x800, 0x10000};
        if (code < kMin[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return Fail("malformed UTF-8");
        out->append(m_text, start, m_pos - start);
        return true;
    }

    bool String(std::string* out) {
        ++m_pos;  // opening quote
        for (;;) {
            if (AtEnd()) return Fail("unterminated string");
            const char c = Peek();
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return Fail("raw control character in a string");
            if (c != '\\') {
                if (!RawUtf8(out)) return false;
                continue;
            }
            ++m_pos;
            const char e = Peek();
            ++m_pos;
            switch (e) {
                case '"':
                    *out += '"';
                    break;
                case '\\':
                    *out += '\\';
                    break;
                case '/':
                    *out += '/';
                    break;
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u': {
                    unsigned code;
                    if (!Hex4(&code)) return false;
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        unsigned low;
                        if (m_text.compare(m_pos, 2, "\\u") != 0) return Fail("lone surrogate");
                        m_pos += 2;
                        if (!Hex4(&low) || low < 0xDC00 || low > 0xDFFF)
                            return Fail("lone surrogate");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xDC00 && code <= 0xDFFF) {
                        return Fail("lone surrogate");
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    return Fail("bad escape");
            }
        }
    }

    const std::string& m_text;
    size_t m_pos = 0;
    std::string m_error;
};

}  // namespace

bool JsonValue::Has(const std::string& key) const {
    for (const auto& member : members) {
        if (member.first == key) return true;
    }
    return false;
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
    for (const auto& member : members) {
        if (member.first == key) return member.second;
    }
    return NullValue();
}

const JsonValue& JsonValue::operator[](size_t index) const {
    return index < items.size() ? items[index] : NullValue();
}

bool ParseJson(const std::string& text, JsonValue* value, std::string* error) {
    Parser parser(text);
    *value = JsonValue();
    if (parser.Document(value)) return true;
    if (error) *error = parser.Error();
    return false;
}

}  // namespace peltest
