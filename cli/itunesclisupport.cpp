#include "cli/itunesclisupport.h"

#include "base/apperror.h"
#include "cli/consolemonitor.h"
#include "cli/exitcodes.h"
#include "itunes/backupmanifest.h"
#include "itunes/iositunesbksetpasswordthread.h"

#include <QtGlobal>

#include <cstdio>
#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace {

// Reads one line from the terminal without echoing it.
QString promptPassword()
{
    std::fprintf(stderr, "Backup password: ");
    std::fflush(stderr);
    termios old {};
    const bool haveTerm = tcgetattr(STDIN_FILENO, &old) == 0;
    if (haveTerm) {
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (haveTerm)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
    std::fprintf(stderr, "\n");
    return QString::fromLocal8Bit(line.c_str());
}

}  // namespace

QList<CliOption> backupPasswordOptions()
{
    return {{QStringLiteral("password"), QStringLiteral("P"), QStringLiteral("the password of an encrypted backup")},
            {QStringLiteral("password-env"), QStringLiteral("NAME"),
             QStringLiteral("read the password from the environment variable NAME")}};
}

ItunesCliOptions itunesCliOptions(const CliArgs& args)
{
    ItunesCliOptions options;
    options.hasPassword = args.isSet(QStringLiteral("password"));
    options.password = args.value(QStringLiteral("password"));
    options.passwordEnv = args.value(QStringLiteral("password-env"));
    return options;
}

int backupPasswordFromOptions(const ItunesCliOptions& options, QString* password)
{
    if (options.hasPassword) {
        *password = options.password;
    } else if (!options.passwordEnv.isEmpty()) {
        if (!qEnvironmentVariableIsSet(options.passwordEnv.toLocal8Bit().constData())) {
            cliErr(QStringLiteral("error: the environment variable %1 that should hold the backup password is not set\n")
                       .arg(options.passwordEnv));
            return exitcode::kPassword;
        }
        *password = qEnvironmentVariable(options.passwordEnv.toLocal8Bit().constData());
    } else if (isatty(STDIN_FILENO)) {
        *password = promptPassword();
    } else {
        cliErr(QStringLiteral("error: this backup is encrypted; give its password with --password, "
                              "--password-env NAME or at the prompt of a terminal\n"));
        return exitcode::kPassword;
    }
    if (password->isEmpty()) {
        cliErr(QStringLiteral("error: Password is required.\n"));
        return exitcode::kPassword;
    }
    return exitcode::kSuccess;
}

int openItunesBackup(BackupManifest& backup, const ItunesCliOptions& options, QString* usedPassword)
{
    try {
        backup.openThrow();
    } catch (const std::exception& e) {
        cliErr(QStringLiteral("error: %1\n").arg(errorText(e)));
        return exitcode::kFailure;
    }
    if (!backup.isEncrypted)
        return exitcode::kSuccess;

    QString password;
    if (const int code = backupPasswordFromOptions(options, &password); code != exitcode::kSuccess)
        return code;

    IOSiTunesBKSetPasswordThread job(backup, password);
    ConsoleMonitor monitor;
    const int code = monitor.runJob(job);
    if (code != exitcode::kSuccess)
        return code;
    if (!job.result()) {
        cliErr(QStringLiteral("error: Invalid password.\n"));
        return exitcode::kPassword;
    }
    if (usedPassword)
        *usedPassword = password;
    return exitcode::kSuccess;
}

int openAndLoadItunesBackup(BackupManifest& backup, const ItunesCliOptions& options)
{
    const int code = openItunesBackup(backup, options);
    if (code != exitcode::kSuccess)
        return code;
    try {
        backup.loadThrow();
    } catch (const std::exception& e) {
        cliErr(QStringLiteral("error: %1\n").arg(errorText(e)));
        return exitcode::kFailure;
    }
    return exitcode::kSuccess;
}
