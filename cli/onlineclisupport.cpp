#include "cli/onlineclisupport.h"

#include "base/productinfo.h"
#include "cli/exitcodes.h"

#include <QTextStream>

int parseOnlineCliArgs(const QStringList& args, const OnlineCliSpec& spec, OnlineCliArgs& out)
{
    QTextStream err(stderr);
    QString host;
    bool haveHost = false;
    bool haveText = false;
    bool bad = false;
    for (int i = 0; i < args.size() && !bad; ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            QTextStream(stdout) << "usage: quillometry-cli " << spec.usage << "\n\n" << spec.help;
            out.help = true;
            return exitcode::kSuccess;
        }
        if (a == QLatin1String("--host") && i + 1 < args.size() && !haveHost) {
            host = args.at(++i);
            haveHost = true;
        } else if (a.startsWith(QLatin1String("--host=")) && !haveHost) {
            host = a.mid(7);
            haveHost = true;
        } else if (spec.force && a == QLatin1String("--force")) {
            out.force = true;
        } else if (spec.dryRun && a == QLatin1String("--dry-run")) {
            out.dryRun = true;
        } else if (spec.text && !haveText && (!a.startsWith(QLatin1String("--")) || a == QLatin1String("--"))) {
            if (a == QLatin1String("--")) {
                if (i + 1 >= args.size()) {
                    bad = true;
                    break;
                }
                out.text = args.at(++i);
            } else {
                out.text = a;
            }
            haveText = true;
        } else {
            bad = true;
        }
    }
    if (bad || (spec.text && !haveText)) {
        err << "usage: quillometry-cli " << spec.usage << "\n";
        return exitcode::kUsage;
    }
    if (haveHost && product::vendorBaseUrl(host).isEmpty()) {
        err << "error: --host takes HOST or HOST:PORT (a port from 1 to 65535), not \"" << host << "\"\n";
        return exitcode::kUsage;
    }
    out.host = haveHost ? host : product::vendorHost();
    return -1;
}

QString noVendorServerText()
{
    return QStringLiteral("no vendor server is configured; nothing was sent");
}
