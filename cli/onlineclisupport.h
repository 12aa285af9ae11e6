// What the three online commands (update-check, update-page, error-report)
// share: the --host option, the host they talk to and the text for a build
// without one. --host is the only way a build without a configured vendor
// server ever sends anything; nothing here sends on its own.
#pragma once

#include "cli/clicommand.h"

#include <QString>

// --host HOST[:PORT]
CliOption vendorHostOption();

// The host to talk to: --host, else the build's setting. False, with *code
// set and the reason printed, when --host names no plain host (usage) or
// there is no host at all ("no vendor server is configured; nothing was
// sent", failure: a command that sent nothing never exits 0).
bool vendorHostFor(const CliArgs& args, QString* host, int* code);

// Prints "no vendor server is configured; nothing was sent" on standard
// error and returns the failure exit code.
int noVendorServer();
