#include "cli/clicommand.h"

#include <algorithm>

namespace {
QList<CliCommand>& registry()
{
    static QList<CliCommand> commands;
    return commands;
}
}  // namespace

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
