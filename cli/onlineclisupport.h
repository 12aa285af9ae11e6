// What the three online commands (update-check, update-page, error-report)
// share: reading their arguments, the host they talk to and the text for a
// build without one. --host is the only way a build without a configured
// vendor server ever sends anything; nothing here sends on its own.
#pragma once

#include <QString>
#include <QStringList>

struct OnlineCliArgs {
    QString host;      // --host, else the build's setting; may be empty
    bool force = false;
    bool dryRun = false;
    QString text;      // error-report's TEXT
    bool help = false;
};

struct OnlineCliSpec {
    QString usage;     // "update-check [--host HOST[:PORT]] [--force]"
    QString help;      // what the command does, with an example
    bool force = false;
    bool dryRun = false;
    bool text = false; // takes one TEXT argument
};

// Reads `args` by `spec`. Returns -1 when the command should go on, else the
// exit code to end with (after printing help or the usage error).
int parseOnlineCliArgs(const QStringList& args, const OnlineCliSpec& spec, OnlineCliArgs& out);

// "no vendor server is configured; nothing was sent"
QString noVendorServerText();
