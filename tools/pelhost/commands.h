// pelhost's command language: a command name followed by its parameters, any number of
// commands in a row. A command's optional parameter is taken only when the next word is not
// itself a command name, so "init on" is two commands and "init 7 on" is too.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace pelhost {

enum class Op { Init, On, Off, Menu, State, Equal, Project, Notify, Exit, Sleep, Wait, Quit, Help };

// The first argument of a "menu" command, kept as parsed until it is turned into a VARIANT.
struct MenuArgument {
    VARTYPE vt = VT_EMPTY;
    long long integer = 0;
    double real = 0.0;
    std::wstring text;
};

struct Command {
    Op op = Op::Help;
    int number = 0;  // init: host value; notify: code; sleep, wait: milliseconds
    std::string text;  // wait: the text to wait for
    MenuArgument menu;
};

// Splits a line or an argument into words: blanks and ";" separate, "#" starts a comment,
// and a span in double quotes keeps its blanks ("SampleDll: DllInit" is one word).
std::vector<std::string> SplitWords(const std::string& text);

// Parses words into commands. On failure returns false with `error` naming the culprit.
bool ParseCommands(const std::vector<std::string>& words, std::vector<Command>& commands,
                   std::string& error);

// A fresh VARIANT for the argument (a BSTR is allocated: VariantClear it).
VARIANT MakeVariant(const MenuArgument& argument);

// "VT_BOOL -1", "VT_I4 5", "VT_EMPTY", "VT_BSTR \"text\"", ...
std::string FormatVariant(const VARIANT& value);

// The command summary printed by "help" and --help.
const char* CommandHelp();

}  // namespace pelhost
