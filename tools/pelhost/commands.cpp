#include "commands.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text_utf.h"

namespace pelhost {
namespace {

struct CommandName {
    const char* name;
    Op op;
};

const CommandName kCommands[] = {
    {"init", Op::Init},   {"on", Op::On},           {"off", Op::Off},
    {"menu", Op::Menu},   {"state", Op::State},     {"equal", Op::Equal},
    {"project", Op::Project}, {"notify", Op::Notify}, {"exit", Op::Exit},
    {"sleep", Op::Sleep}, {"wait", Op::Wait},       {"quit", Op::Quit},
    {"help", Op::Help},
};

constexpr int kDefaultNotifyCode = 18;
constexpr long long kLongestSleepMs = 600000;
constexpr int kDefaultWaitMs = 30000;

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

const CommandName* FindCommand(const std::string& word) {
    const std::string lower = Lower(word);
    for (const CommandName& c : kCommands)
        if (lower == c.name) return &c;
    return nullptr;
}

// Decimal or 0x-hexadecimal, with an optional sign; the whole word must be the number.
bool ParseInteger(const std::string& word, long long low, long long high, long long& value) {
    if (word.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(word.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

// A 32-bit value given signed or as its unsigned bit pattern (0xFFFFFFFF is -1).
bool ParseInt32(const std::string& word, int& value) {
    long long parsed = 0;
    if (!ParseInteger(word, INT_MIN, UINT_MAX, parsed)) return false;
    value = static_cast<int>(static_cast<unsigned int>(parsed & 0xFFFFFFFFll));
    return true;
}

// "sleep" and "wait": a number of milliseconds, 0 to kLongestSleepMs.
bool ParseMilliseconds(const char* command, const std::string& word, int& ms, std::string& error) {
    long long value = 0;
    if (!ParseInteger(word, 0, kLongestSleepMs, value)) {
        error = std::string(command) + ": '" + word +
                "' is not a number of milliseconds (0 to 600000)";
        return false;
    }
    ms = static_cast<int>(value);
    return true;
}

struct VariantType {
    const char* name;
    VARTYPE vt;
};

const VariantType kVariantTypes[] = {
    {"empty", VT_EMPTY}, {"null", VT_NULL}, {"bool", VT_BOOL}, {"i2", VT_I2},
    {"i4", VT_I4},       {"int", VT_INT},   {"ui4", VT_UI4},   {"r8", VT_R8},
    {"bstr", VT_BSTR},
};

bool ParseMenuValue(const std::string& word, MenuArgument& argument, std::string& error) {
    long long value = 0;
    switch (argument.vt) {
    case VT_BOOL:
        // The host sends VARIANT_TRUE (-1); any other 16-bit value can be tried as well.
        if (Lower(word) == "true") value = -1;
        else if (Lower(word) == "false") value = 0;
        else if (!ParseInteger(word, SHRT_MIN, USHRT_MAX, value)) break;
        argument.integer = static_cast<short>(static_cast<unsigned short>(value & 0xFFFF));
        return true;
    case VT_I2:
        if (!ParseInteger(word, SHRT_MIN, SHRT_MAX, value)) break;
        argument.integer = value;
        return true;
    case VT_I4:
    case VT_INT:
        if (!ParseInteger(word, INT_MIN, INT_MAX, value)) break;
        argument.integer = value;
        return true;
    case VT_UI4:
        if (!ParseInteger(word, 0, UINT_MAX, value)) break;
        argument.integer = value;
        return true;
    case VT_R8: {
        char* end = nullptr;
        argument.real = std::strtod(word.c_str(), &end);
        if (word.empty() || *end != '\0') break;
        return true;
    }
    case VT_BSTR:
        argument.text = peltools::FromUtf8(word);
        return true;
    default:
        break;
    }
    error = "menu: '" + word + "' is not a value of that type";
    return false;
}

}  // namespace

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool started = false;  // so that "" is an (empty) word
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            started = true;
        } else if (quoted) {
            word += c;
        } else if (c == '#') {
            break;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ';') {
            if (started) words.push_back(word);
            word.clear();
            started = false;
        } else {
            word += c;
            started = true;
        }
    }
    if (started) words.push_back(word);
    return words;
}

bool ParseCommands(const std::vector<std::string>& words, std::vector<Command>& commands,
                   std::string& error) {
    size_t i = 0;
    // The next word as an optional parameter: present and not a command of its own.
    auto optional = [&](std::string& word) {
        if (i >= words.size() || FindCommand(words[i])) return false;
        word = words[i++];
        return true;
    };
    auto required = [&](const char* what, std::string& word) {
        if (i >= words.size()) {
            error = std::string(what) + " is missing";
            return false;
        }
        word = words[i++];
        return true;
    };

    while (i < words.size()) {
        const CommandName* name = FindCommand(words[i]);
        if (!name) {
            error = "unknown command '" + words[i] + "' (try 'help')";
            return false;
        }
        ++i;
        Command command;
        command.op = name->op;
        std::string word;
        switch (command.op) {
        case Op::Init:
            if (optional(word) && !ParseInt32(word, command.number)) {
                error = "init: host value '" + word + "' is not a 32-bit integer";
                return false;
            }
            break;
        case Op::Notify:
            command.number = kDefaultNotifyCode;
            if (optional(word) && !ParseInt32(word, command.number)) {
                error = "notify: code '" + word + "' is not a 32-bit integer";
                return false;
            }
            break;
        case Op::Sleep:
            if (!required("sleep: the number of milliseconds", word)) return false;
            if (!ParseMilliseconds("sleep", word, command.number, error)) return false;
            break;
        case Op::Wait:
            if (!required("wait: the text to wait for", word)) return false;
            if (word.empty()) {
                error = "wait: the text to wait for is empty";
                return false;
            }
            command.text = word;
            command.number = kDefaultWaitMs;
            if (optional(word) && !ParseMilliseconds("wait", word, command.number, error))
                return false;
            break;
        case Op::Menu: {
            if (!required("menu: the VARIANT type", word)) return false;
            const VariantType* type = nullptr;
            for (const VariantType& t : kVariantTypes)
                if (Lower(word) == t.name) type = &t;
            if (!type) {
                error = "menu: unknown VARIANT type '" + word +
                        "' (empty, null, bool, i2, i4, int, ui4, r8, bstr)";
                return false;
            }
            command.menu.vt = type->vt;
            if (type->vt == VT_EMPTY || type->vt == VT_NULL) break;
            if (!required("menu: the value", word)) return false;
            if (!ParseMenuValue(word, command.menu, error)) return false;
            break;
        }
        default:
            break;
        }
        commands.push_back(command);
    }
    return true;
}

VARIANT MakeVariant(const MenuArgument& argument) {
    VARIANT value;
    VariantInit(&value);
    value.vt = argument.vt;
    switch (argument.vt) {
    case VT_BOOL: value.boolVal = static_cast<VARIANT_BOOL>(argument.integer); break;
    case VT_I2: value.iVal = static_cast<SHORT>(argument.integer); break;
    case VT_I4: value.lVal = static_cast<LONG>(argument.integer); break;
    case VT_INT: value.intVal = static_cast<INT>(argument.integer); break;
    case VT_UI4: value.ulVal = static_cast<ULONG>(argument.integer); break;
    case VT_R8: value.dblVal = argument.real; break;
    case VT_BSTR: value.bstrVal = SysAllocString(argument.text.c_str()); break;
    default: break;
    }
    return value;
}

std::string FormatVariant(const VARIANT& value) {
    char text[64];
    switch (value.vt) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_NULL: return "VT_NULL";
    case VT_BOOL: std::snprintf(text, sizeof(text), "VT_BOOL %d", value.boolVal); break;
    case VT_I2: std::snprintf(text, sizeof(text), "VT_I2 %d", value.iVal); break;
    case VT_I4: std::snprintf(text, sizeof(text), "VT_I4 %ld", static_cast<long>(value.lVal)); break;
    case VT_INT: std::snprintf(text, sizeof(text), "VT_INT %d", value.intVal); break;
    case VT_UI4:
        std::snprintf(text, sizeof(text), "VT_UI4 %lu", static_cast<unsigned long>(value.ulVal));
        break;
    case VT_R8: std::snprintf(text, sizeof(text), "VT_R8 %g", value.dblVal); break;
    case VT_BSTR:
        return "VT_BSTR \"" +
               peltools::Utf8(value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal))
                                            : std::wstring()) +
               "\"";
    default: std::snprintf(text, sizeof(text), "vt 0x%x", value.vt); break;
    }
    return text;
}

const char* CommandHelp() {
    return "Commands (one or more per line or argument; '#' starts a comment):\n"
           "  init [hostValue]   InitSet(0, hostValue, 0); hostValue defaults to 0\n"
           "  on                 MenuHandle(VT_BOOL -1), as the host's menu switches on\n"
           "  off                MenuHandle(VT_BOOL 0)\n"
           "  menu <type> [v]    MenuHandle with any first VARIANT: empty, null, bool v,\n"
           "                     i2 v, i4 v, int v, ui4 v, r8 v, bstr v (e.g. 'menu i4 5')\n"
           "  state              AskForState(&v)\n"
           "  equal              GetStateEqualProject(&v)\n"
           "  project            SetStateAsProject()\n"
           "  notify [code]      NotifySetChange(code, 0); code defaults to 18\n"
           "  exit               Exit()\n"
           "  sleep <ms>         wait, while the plug-ins' messages keep coming\n"
           "  wait <text> [ms]   wait until a diagnostic message that contains <text> has\n"
           "                     come since the last command other than wait (at most ms,\n"
           "                     30000 by default); quote text with blanks: wait \"A: b\"\n"
           "  quit               stop reading commands\n"
           "  help               this text\n";
}

}  // namespace pelhost
