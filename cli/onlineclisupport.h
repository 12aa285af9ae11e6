// What the three online commands (update-check, update-page, error-report)
// share: the --host option, the host they talk to and the text for a build
// without one. --host is the only way a build without a configured vendor
// server ever sends anything; nothing here sends on its own.
#pragma once

#include "cli/clicommand.h"

#include <QString>

// --host HOST[:PORT]
CliOption vendorHostOption();

// The host of --host, else the build's setting (empty when there is none).
// A --host that names no plain host sets *code to the usage exit code and
// returns nullopt after printing why.
std::optional<QString> vendorHostFor(const CliArgs& args, int* code);

// Prints "no vendor server is configured; nothing was sent" on standard
// error and returns the failure exit code: a command that sent nothing never
// exits 0.
int noVendorServer();
