// A small streaming JSON writer: commas and string escapes are its whole job.
#pragma once

#include <string>
#include <vector>

#include "text_utf.h"

namespace pelcheck {

class JsonWriter {
public:
    JsonWriter& Object() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& Array() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }

    JsonWriter& Key(const char* key) {
        Comma();
        Quote(key);
        m_out += ':';
        m_afterKey = true;
        return *this;
    }
    JsonWriter& String(const std::wstring& text) {
        BeginValue();
        Quote(peltools::Utf8(text));
        return *this;
    }
    // A loader message, sent in the ANSI code page.
    JsonWriter& Ansi(const std::string& text) { return String(peltools::FromAnsi(text)); }
    // null stands for an empty text.
    JsonWriter& StringOrNull(const std::wstring& text) {
        return text.empty() ? Null() : String(text);
    }
    JsonWriter& AnsiOrNull(const std::string& text) { return text.empty() ? Null() : Ansi(text); }
    JsonWriter& Number(long long value) {
        BeginValue();
        m_out += std::to_string(value);
        return *this;
    }
    JsonWriter& Bool(bool value) {
        BeginValue();
        m_out += value ? "true" : "false";
        return *this;
    }
    JsonWriter& Null() {
        BeginValue();
        m_out += "null";
        return *this;
    }

    const std::string& Text() const { return m_out; }

private:
    JsonWriter& Open(char bracket) {
        BeginValue();
        m_out += bracket;
        m_first.push_back(true);
        return *this;
    }
    JsonWriter& Close(char bracket) {
        m_out += bracket;
        m_first.pop_back();
        return *this;
    }
    void BeginValue() {
        if (m_afterKey) {
            m_afterKey = false;
            return;
        }
        Comma();
    }
    void Comma() {
        if (m_first.empty()) return;
        if (!m_first.back()) m_out += ',';
        m_first.back() = false;
    }
    void Quote(const std::string& utf8) {
        static const char kHex[] = "0123456789abcdef";
        m_out += '"';
        for (char c : utf8) {
            const unsigned char u = static_cast<unsigned char>(c);
            switch (c) {
                case '"':
                    m_out += "\\\"";
                    break;
                case '\\':
                    m_out += "\\\\";
                    break;
                case '\b':
                    m_out += "\\b";
                    break;
                case '\f':
                    m_out += "\\f";
                    break;
                case '\n':
                    m_out += "\\n";
                    break;
                case '\r':
                    m_out += "\\r";
                    break;
                case '\t':
                    m_out += "\\t";
                    break;
                default:
                    if (u < 0x20) {
                        m_out += "\\u00";
                        m_out += kHex[u >> 4];
                        m_out += kHex[u & 0xF];
                    } else {
                        m_out += c;
                    }
            }
        }
        m_out += '"';
    }

    std::string m_out;
    std::vector<bool> m_first;
    bool m_afterKey = false;
};

}  // namespace pelcheck
