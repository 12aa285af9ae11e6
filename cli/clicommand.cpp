#include "cli/clicommand.h"

#include "cli/chatsource.h"
#include "cli/clioutput.h"
#include "cli/exitcodes.h"

#include <QCommandLineParser>

#include <algorithm>

namespace {

QList<CliCommand>& registry()
{
    static QList<CliCommand> commands;
    return commands;
}

const QString kProgram = QStringLiteral("quillometry-cli");

QString optionWords(const CliOption& o)
{
    return o.valueName.isEmpty() ? QStringLiteral("--%1").arg(o.name) : QStringLiteral("--%1 %2").arg(o.name, o.valueName);
}

QString argumentWords(const CliArgument& a)
{
    QString words = a.repeatable ? a.name + QStringLiteral("...") : a.name;
    return a.optional ? QLatin1Char('[') + words + QLatin1Char(']') : words;
}

// The options every command takes beside its own.
QList<CliOption> commonOptions(const CliCommand& command)
{
    QList<CliOption> options;
    if (command.json)
        options << CliOption{QStringLiteral("json"), QString(),
                             QStringLiteral("print one JSON document on standard output instead of text")};
    options << CliOption{QStringLiteral("verbose"), QString(),
                         QStringLiteral("also print the program's log lines on standard error")};
    return options;
}

int usageError(const CliCommand& command, const QString& error)
{
    cliErr(QStringLiteral("%1 %2: %3\nUsage: %1 %4\nRun '%1 help %2' for the arguments and an example.\n")
               .arg(kProgram, command.name, error, commandSynopsis(command)));
    return exitcode::kUsage;
}

}  // namespace

CliArgs::CliArgs(std::shared_ptr<QCommandLineParser> parser, QStringList positional)
    : m_parser(std::move(parser)), m_positional(std::move(positional))
{
}

CliArgs::~CliArgs() = default;

bool CliArgs::isSet(const QString& option) const
{
    return m_parser->optionNames().contains(option);
}

QString CliArgs::value(const QString& option) const
{
    return isSet(option) ? m_parser->value(option) : QString();
}

QStringList CliArgs::values(const QString& option) const
{
    return isSet(option) ? m_parser->values(option) : QStringList();
}

bool CliArgs::json() const { return isSet(QStringLiteral("json")); }

void CliRegistry::add(CliCommand command)
{
    auto& commands = registry();
    auto pos = std::lower_bound(commands.begin(), commands.end(), command.name,
                                [](const CliCommand& c, const QString& name) { return c.name < name; });
    commands.insert(pos, std::move(command));
}

const QList<CliCommand>& CliRegistry::all() { return registry(); }

const CliCommand* CliRegistry::find(const QString& name)
{
    for (const CliCommand& c : registry())
        if (c.name == name)
            return &c;
    return nullptr;
}

QString commandSynopsis(const CliCommand& command)
{
    QStringList words{command.name};
    for (const CliArgument& a : command.arguments)
        words << argumentWords(a);
    for (const CliOption& o : command.options)
        words << (o.required ? optionWords(o) : QLatin1Char('[') + optionWords(o) + QLatin1Char(']'));
    if (command.json)
        words << QStringLiteral("[--json]");
    return words.join(QLatin1Char(' '));
}

QString commandHelp(const CliCommand& command)
{
    QString summary = command.summary;
    if (!summary.isEmpty())
        summary[0] = summary[0].toUpper();
    QString text = QStringLiteral("Usage: %1 %2\n\n%3\n").arg(kProgram, commandSynopsis(command), summary);
    if (!text.endsWith(QStringLiteral(".\n")))
        text.insert(text.size() - 1, QLatin1Char('.'));
    bool source = false;
    if (!command.arguments.isEmpty()) {
        QList<QPair<QString, QString>> rows;
        for (const CliArgument& a : command.arguments) {
            rows << qMakePair(a.name, a.description);
            source = source || a.name == QLatin1String("SOURCE");
        }
        text += QStringLiteral("\nArguments:\n") + cliHelpTable(rows);
    }
    if (source)
        text += QStringLiteral("\nSOURCE is one of:\n") + chatSourceFormsHelp();
    QList<QPair<QString, QString>> rows;
    for (const CliOption& o : command.options + commonOptions(command))
        rows << qMakePair(optionWords(o), o.description + (o.required ? QStringLiteral(" (required)") : QString()));
    rows << qMakePair(QStringLiteral("-h, --help"), QStringLiteral("show this help"));
    text += QStringLiteral("\nOptions:\n") + cliHelpTable(rows);
    if (!command.examples.isEmpty()) {
        text += command.examples.size() == 1 ? QStringLiteral("\nExample:\n") : QStringLiteral("\nExamples:\n");
        for (const QString& e : command.examples)
            text += QStringLiteral("  %1 %2\n").arg(kProgram, e);
    }
    return text;
}

int runCliCommand(const CliCommand& command, const QStringList& args)
{
    auto parser = std::make_shared<QCommandLineParser>();
    parser->setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QList<CliOption> all = command.options + commonOptions(command);
    for (const CliOption& o : all) {
        QCommandLineOption option(o.name, o.description, o.valueName);
        parser->addOption(option);
    }
    parser->addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help")));

    if (!parser->parse(QStringList{kProgram} + args))
        return usageError(command, parser->errorText());
    if (parser->isSet(QStringLiteral("help"))) {
        cliOut(commandHelp(command));
        return exitcode::kSuccess;
    }
    for (const CliOption& o : all) {
        if (o.required && !parser->isSet(o.name))
            return usageError(command, QStringLiteral("the option --%1 is missing.").arg(o.name));
        if (!o.valueName.isEmpty() && parser->values(o.name).size() > 1)
            return usageError(command, QStringLiteral("the option --%1 is given more than once.").arg(o.name));
    }

    const QStringList positional = parser->positionalArguments();
    int least = 0;
    for (const CliArgument& a : command.arguments)
        least += a.optional ? 0 : 1;
    const bool rest = !command.arguments.isEmpty() && command.arguments.constLast().repeatable;
    if (positional.size() < least)
        return usageError(command, QStringLiteral("%1 is missing.").arg(command.arguments.at(positional.size()).name));
    if (!rest && positional.size() > command.arguments.size())
        return usageError(command,
                          QStringLiteral("unexpected argument '%1'.").arg(positional.at(command.arguments.size())));
    for (const QString& p : positional)
        if (p.isEmpty())
            return usageError(command, QStringLiteral("an argument is empty."));

    setCliVerbose(parser->isSet(QStringLiteral("verbose")));
    startCliLogging();
    return command.run(CliArgs(parser, positional));
}
