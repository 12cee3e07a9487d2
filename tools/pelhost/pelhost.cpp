// pelhost: a command-line host for PelLoader.dll. It loads the loader the way the suite's
// main program does and calls its entry points on command, printing every call, its result,
// and every diagnostic message of the loader and its plug-ins as it happens.
//
//   pelhost [--loader <path>] [command ...]     commands from the arguments
//   pelhost [--loader <path>] < script          commands from standard input, one per line
//
// Exit status: 0 when every command was understood and every wait met, 2 for a bad option or
// command, 3 when the loader cannot be loaded or lacks an entry point, 4 when a wait timed out.
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "console_log.h"
#include "loader_binding.h"
#include "text_utf.h"

namespace pelhost {
namespace {

constexpr int kStatusOk = 0;
constexpr int kStatusUsage = 2;
constexpr int kStatusLoader = 3;
constexpr int kStatusWaitTimedOut = 4;

const char kUsage[] =
    "Usage: pelhost [--loader <PelLoader.dll>] [command ...]\n"
    "Loads the loader (by default the PelLoader.dll beside pelhost.exe) and runs the commands\n"
    "given as arguments, or, when there are none, the commands read from standard input.\n"
    "An argument may hold several words or whole commands: 'notify 18', 'wait \"A: b\"'.\n"
    "Example: pelhost init 7 on sleep 200 off notify 18 exit\n\n";

struct Options {
    std::wstring loaderPath;
    std::vector<std::string> words;  // commands from the arguments
    bool help = false;
};

bool ParseOptions(const std::vector<std::wstring>& args, Options& options, std::string& error) {
    size_t i = 1;
    for (; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"--loader") {
            if (i + 1 >= args.size()) {
                error = "--loader needs a path";
                return false;
            }
            options.loaderPath = args[++i];
        } else if (arg.compare(0, 9, L"--loader=") == 0) {
            options.loaderPath = arg.substr(9);
        } else if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            options.help = true;
        } else if (arg.size() > 1 && arg[0] == L'-' && !(arg[1] >= L'0' && arg[1] <= L'9')) {
            error = "unknown option '" + peltools::Utf8(arg) + "'";
            return false;
        } else {
            break;  // the commands begin
        }
    }
    for (; i < args.size(); ++i)
        for (const std::string& word : SplitWords(peltools::Utf8(args[i]))) options.words.push_back(word);
    if (options.loaderPath.empty()) options.loaderPath = BesideHost(L"PelLoader.dll");
    return true;
}

std::vector<std::wstring> Arguments() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 0; argv && i < count; ++i) args.push_back(argv[i]);
    if (argv) LocalFree(argv);
    return args;
}

class Session {
public:
    explicit Session(const LoaderBinding& loader) : m_loader(loader) {}

    // Runs one command; false after "quit".
    bool Run(const Command& command) {
        // A wait looks at the messages since the command it waits on began.
        if (command.op != Op::Wait) m_waitFrom = MessageCount();
        char line[160];
        switch (command.op) {
        case Op::Init: {
            const int result = m_loader.InitSet(0, command.number, 0);
            m_initialised = true;
            std::snprintf(line, sizeof(line), "InitSet(0, %d, 0) = %d", command.number, result);
            break;
        }
        case Op::On:
        case Op::Off: {
            MenuArgument argument;
            argument.vt = VT_BOOL;
            argument.integer = command.op == Op::On ? VARIANT_TRUE : VARIANT_FALSE;
            CallMenuHandle(argument);
            return true;
        }
        case Op::Menu:
            CallMenuHandle(command.menu);
            return true;
        case Op::State: {
            int hostValue = 0;
            const int result = m_loader.AskForState(&hostValue);
            std::snprintf(line, sizeof(line), "AskForState(&v) = %d, v = %d", result, hostValue);
            break;
        }
        case Op::Equal: {
            int hostValue = 0;
            const int result = m_loader.GetStateEqualProject(&hostValue);
            std::snprintf(line, sizeof(line), "GetStateEqualProject(&v) = %d, v = %d", result,
                          hostValue);
            break;
        }
        case Op::Project:
            std::snprintf(line, sizeof(line), "SetStateAsProject() = %d",
                          m_loader.SetStateAsProject());
            break;
        case Op::Notify: {
            const int result = m_loader.NotifySetChange(command.number, 0);
            std::snprintf(line, sizeof(line), "NotifySetChange(%d, 0) = %d", command.number,
                          result);
            break;
        }
        case Op::Exit:
            std::snprintf(line, sizeof(line), "Exit() = %d", m_loader.Exit());
            m_initialised = false;
            break;
        case Op::Sleep:
            std::snprintf(line, sizeof(line), "sleep %d ms", command.number);
            PrintLine(line);
            Sleep(static_cast<DWORD>(command.number));
            return true;
        case Op::Wait:
            if (!WaitForMessage(command.text, m_waitFrom, static_cast<DWORD>(command.number))) {
                PrintError("wait: no message containing \"" + command.text + "\" within " +
                           std::to_string(command.number) + " ms");
                m_waitTimedOut = true;
            }
            return true;
        case Op::Quit:
            return false;
        case Op::Help:
            PrintRaw(CommandHelp());
            return true;
        }
        PrintLine(line);
        return true;
    }

    // Said once at the end, because the plug-ins then end with the process instead of Exit.
    void Finish() {
        if (m_initialised) PrintLine("note: Exit was not called; the plug-ins end with pelhost");
    }

    bool WaitTimedOut() const { return m_waitTimedOut; }

private:
    void CallMenuHandle(const MenuArgument& argument) {
        VARIANT command = MakeVariant(argument);
        VARIANT empty;
        VariantInit(&empty);
        VARIANT result = m_loader.MenuHandle(command, empty, empty);
        PrintLine("MenuHandle(" + FormatVariant(command) + ") = " + FormatVariant(result));
        VariantClear(&result);
        VariantClear(&command);
    }

    const LoaderBinding& m_loader;
    bool m_initialised = false;
    bool m_waitTimedOut = false;
    size_t m_waitFrom = 0;
};

bool OnlyHelp(const std::vector<Command>& commands) {
    for (const Command& c : commands)
        if (c.op != Op::Help) return false;
    return true;
}

// Commands from standard input: a line that cannot be parsed is reported and skipped, and
// makes the final status 2.
int RunStandardInput(Session& session) {
    int status = kStatusOk;
    std::string text;
    for (int number = 1; std::getline(std::cin, text); ++number) {
        std::vector<Command> commands;
        std::string error;
        if (!ParseCommands(SplitWords(text), commands, error)) {
            PrintError("line " + std::to_string(number) + ": " + error);
            status = kStatusUsage;
            continue;
        }
        for (const Command& command : commands)
            if (!session.Run(command)) return status;
    }
    return status;
}

int Main() {
    StartClock();
    Options options;
    std::string error;
    if (!ParseOptions(Arguments(), options, error)) {
        PrintError(error + " (try --help)");
        return kStatusUsage;
    }
    if (options.help) {
        PrintRaw(kUsage);
        PrintRaw(CommandHelp());
        return kStatusOk;
    }
    // Arguments are checked whole before anything is called.
    std::vector<Command> commands;
    if (!ParseCommands(options.words, commands, error)) {
        PrintError(error);
        return kStatusUsage;
    }
    if (!options.words.empty() && OnlyHelp(commands)) {
        PrintRaw(CommandHelp());
        return kStatusOk;
    }

    // Installed first, so that what the loader says while it loads is seen too.
    DebugEcho echo;
    LoaderBinding loader;
    if (!LoadLoader(options.loaderPath, loader, error)) {
        PrintError(error);
        return kStatusLoader;
    }
    PrintLine("loaded " + peltools::Utf8(options.loaderPath));

    Session session(loader);
    int status = kStatusOk;
    if (options.words.empty()) {
        status = RunStandardInput(session);
    } else {
        for (const Command& command : commands)
            if (!session.Run(command)) break;
    }
    session.Finish();
    if (status == kStatusOk && session.WaitTimedOut()) status = kStatusWaitTimedOut;
    return status;
}

}  // namespace
}  // namespace pelhost

int main() { return pelhost::Main(); }
