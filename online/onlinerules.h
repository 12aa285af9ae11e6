// The rules of the online services that need no network: when the daily
// check is due, what an update or advert answer means, how an error report
// is written and encoded, and the manual update page's address. Kept apart
// from OnlineServices so they are tested without a server and so the window
// and the command line read answers the same way.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace online {

// The check runs again once the last one is more than this many seconds old.
inline constexpr qint64 kCheckInterval = 86400;
// Every request ends within this time, answered or not.
inline constexpr int kTransferTimeoutMs = 5000;
// An answer larger than this is unreadable and changes nothing.
inline constexpr qint64 kAnswerLimit = 64 * 1024;
// At most this much rich text goes into the status-bar label.
inline constexpr qint64 kAdvertLimit = 4 * 1024;

// Files of the data folder.
inline constexpr const char* kStampFile = "last-check-version-time";
inline constexpr const char* kAdvertFile = "last-adv";

// The Base64 of the text's UTF-8 bytes with "/" written as "!" and "=" as
// "-" ("+" stays).
QString reportEncode(const QString& text);

// Whether the daily check is due, given the stamp file's content (nullopt:
// no file, or it cannot be read) and the current Unix time. Due when there is
// no stamp, it holds no number or 0, or now minus the stamp, taken as an
// unsigned 32-bit difference, is above a day (so a stamp in the future is due
// too).
bool isCheckDue(const std::optional<QByteArray>& stamp, qint64 now);
// The stamp's time, when it holds one (nullopt for none, 0 or no number).
std::optional<qint64> stampTime(const std::optional<QByteArray>& stamp);

// What an update answer (status 200) says.
struct UpdateVerdict {
    enum Kind {
        UpToDate,    // anything that is not a download link: the stamp moves
        Obsolete,    // the first line is an http link to a newer version
        Unreadable,  // too large, or begins like a link that is not one
    };
    Kind kind = Unreadable;
    QUrl link;  // for Obsolete
};
UpdateVerdict readUpdateAnswer(const QByteArray& answer);

// The advert label's text for an answer (status 200): an answer that begins
// with "<a" (any case) with that tag given the orange link style; nullopt for
// any other answer and for one over the advert limit.
std::optional<QString> advertFromAnswer(const QByteArray& answer);

// Whether the label may hand a link to the desktop: http and https only.
bool isOpenableAdvertLink(const QUrl& link);

// An error text as it is reported: line-break tags become CR LF, "<" and ">"
// become entities, and the user's home folder (`home`, as a path) is
// written "~", since error texts carry paths and the home folder names the
// user.
QString reportText(const QString& text, const QString& home);

// The error report's form body: prod, ver and err, each encoded with
// reportEncode.
QByteArray errorReportBody(const QString& productName, const QString& text, const QString& home);

// The "ver" value of the report: version and build number, "3.2.182(202)".
QString reportVersion();

// The operating system as the update page's "sys" value.
QString systemName();

// The path and query of the two start-up requests and of the update page.
QString updateCheckPath();
QString advertPath();
QString updatePagePath(quint32 volumeSerial);
inline constexpr const char* kErrorReportPath = "/err_report.php";

// The fixed User-Agent of every request.
QByteArray userAgent();

}  // namespace online
