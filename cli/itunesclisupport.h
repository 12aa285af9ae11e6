// What the itunes-* commands share: their options, opening a backup folder
// and unlocking it with a password from the command line, the environment or
// a prompt.
#pragma once

#include "base/functionjob.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"

#include <QString>
#include <QStringList>

#include <functional>

class BackupManifest;

struct ItunesCliOptions {
    QString password;
    bool hasPassword = false;
    QString passwordEnv;
};

// --password P and --password-env NAME, for commands that open a backup.
QList<CliOption> backupPasswordOptions();
// The password options as given.
ItunesCliOptions itunesCliOptions(const CliArgs& args);

// The password of an encrypted backup from the options, the environment or
// a prompt on a terminal. Returns exitcode::kSuccess or exitcode::kPassword
// after printing why there is none.
int backupPasswordFromOptions(const ItunesCliOptions& options, QString* password);

// Opens the backup and, when it is encrypted, unlocks it (the password that
// did goes to *usedPassword when given). Returns exitcode::kSuccess or the
// exit code after printing the error.
int openItunesBackup(BackupManifest& backup, const ItunesCliOptions& options, QString* usedPassword = nullptr);

// openItunesBackup, then reads the backup's records. Returns
// exitcode::kSuccess or the exit code after printing the error.
int openAndLoadItunesBackup(BackupManifest& backup, const ItunesCliOptions& options);
