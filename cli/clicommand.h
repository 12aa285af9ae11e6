// Sub-commands of quillometry-cli.
//
// Adding a command
// ----------------
// Put it in a file of its own (cli/<name>command.cpp) and register it there
// with one declaration; nothing else needs to change (cli/CMakeLists.txt
// picks up every file of the folder):
//
//     int run(const CliArgs& args)
//     {
//         int code = exitcode::kSuccess;                     // exitcodes.h
//         PChatSession chat;
//         const PChatDbView view =                           // chatsource.h: SOURCE in its one grammar
//             loadChatSource(args.arg(0), args.value(QStringLiteral("chat")), &chat, &code);
//         if (!view)
//             return code;                                   // the error is printed already
//         if (args.json()) { cliOutJson(...); return code; } // clioutput.h
//         cliOut(...);
//         return code;
//     }
//
//     const CliRegistrar reg({
//         .name = QStringLiteral("frob"),
//         .summary = QStringLiteral("frob the chats of a chat database"),
//         .arguments = {chatSourceArgument(), {QStringLiteral("OUT"), QStringLiteral("where to write"), true}},
//         .options = {{QStringLiteral("chat"), QStringLiteral("JID"), QStringLiteral("only this chat")}},
//         .examples = {QStringLiteral("frob Anna_Backup --chat 4915550001@s.whatsapp.net")},
//         .json = false,
//         .run = run,
//     });
//
// The framework parses the arguments with QCommandLineParser (exit code 2 and
// a message naming the option or argument when they are wrong, before `run`
// is called), checks the number of arguments and the required options,
// answers `frob --help` and `help frob` with the usage line, arguments,
// options and examples built from the declaration, adds `--verbose` (log
// lines on standard error) to every command and `--json` where `json` is set.
// A SOURCE argument takes the one grammar of chatsource.h; a command that
// reads chats declares it with chatSourceArgument() so that its help lists
// the forms (a new form such as device:UDID is one ChatSourceKindRegistrar).
// Errors go to standard error through cliError() in the user's words;
// results go to standard output through cliOut() / cliOutJson(); progress
// of a job comes from ConsoleMonitor::runJob (consolemonitor.h). The README's
// command-line section gets a line for the command.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QCommandLineParser;

struct CliArgument {
    QString name;         // "SOURCE"; shown in the usage line
    QString description;  // one line for the help
    bool optional = false;
    bool repeatable = false;  // only the last argument: "PATH..." takes the rest
};

struct CliOption {
    QString name;         // "to" for --to
    QString valueName;    // "NAME"; empty for a flag
    QString description;  // one line for the help
    bool required = false;
};

// The parsed arguments of one command.
class CliArgs {
public:
    CliArgs(std::shared_ptr<QCommandLineParser> parser, QStringList positional);
    ~CliArgs();

    // The positional argument i, or empty when there is none.
    QString arg(int i) const { return m_positional.value(i); }
    const QStringList& positional() const { return m_positional; }
    bool isSet(const QString& option) const;
    // The option's value, or empty when it was not given.
    QString value(const QString& option) const;
    // Every value of an option given more than once, in order.
    QStringList values(const QString& option) const;
    // Set when the command declares `json` and --json was given.
    bool json() const;

private:
    std::shared_ptr<QCommandLineParser> m_parser;
    QStringList m_positional;
};

struct CliCommand {
    QString name;     // "chats"
    QString summary;  // one line: what the command does
    QList<CliArgument> arguments;
    QList<CliOption> options;
    QStringList examples;  // command lines without the program name
    bool json = false;     // takes --json
    // Receives the parsed arguments; returns the exit code.
    std::function<int(const CliArgs& args)> run;
};

class CliRegistry {
public:
    static void add(CliCommand command);
    // By name, in name order.
    static const QList<CliCommand>& all();
    static const CliCommand* find(const QString& name);
};

struct CliRegistrar {
    explicit CliRegistrar(CliCommand command) { CliRegistry::add(std::move(command)); }
};

// "backup SOURCE --to NAME [--chat JID]"
QString commandSynopsis(const CliCommand& command);
// The whole help of one command: usage, what it does, arguments, options,
// examples.
QString commandHelp(const CliCommand& command);
// Parses `args` (the words after the command name) and runs the command.
// Returns 2 with the error on standard error when the arguments are wrong,
// 0 after printing the help for --help, otherwise what the command returns.
int runCliCommand(const CliCommand& command, const QStringList& args);
