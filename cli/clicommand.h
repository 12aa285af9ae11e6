// Every sub-command of quillometry-cli registers itself here from its own
// file, so that adding a command never touches the others.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

struct CliCommand {
    QString name;       // "chats"
    QString synopsis;   // "chats SOURCE"
    QString summary;    // one line for --help
    // Receives the arguments after the command name; returns the exit code.
    std::function<int(const QStringList& args)> run;
};

class CliRegistry {
public:
    static void add(CliCommand command);
    static const QList<CliCommand>& all();
    static const CliCommand* find(const QString& name);
};

struct CliRegistrar {
    explicit CliRegistrar(CliCommand command) { CliRegistry::add(std::move(command)); }
};
