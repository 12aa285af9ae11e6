// The program's side of the vendor's web server: the daily update check and
// advert request at start-up, the error report after an error box, and the
// manual update page's address. One QNetworkAccessManager in the caller's
// thread; every request is plain HTTP to the one configured host, ends
// within a few seconds, follows no redirect, keeps no cookie and sends only
// the values named here. Without a host (the default build) the object is
// inert: it sends nothing, opens no socket and reads or writes no file.
// Failures are silent: they leave both files as they were, so the next start
// checks again.
#pragma once

#include "online/onlinerules.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>

using UpdateVerdict = online::UpdateVerdict;

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// One answer of the server as the window and the command line receive it.
struct OnlineAnswer {
    int status = 0;     // the HTTP status; 0 when none arrived
    QByteArray body;    // the whole answer (empty when it failed)
    QString failure;    // why no usable answer arrived; empty when one did

    bool isOk() const { return failure.isEmpty() && status == 200; }
    // A short reason for a failed answer: "HTTP status 500", "timed out", ...
    QString reason() const;
};
Q_DECLARE_METATYPE(OnlineAnswer)

class OnlineServices : public QObject {
    Q_OBJECT
public:
    // `host` is "host[:port]" (empty: every service off); `dataFolder` holds
    // the stamp and the stored advert.
    OnlineServices(const QString& host, const QString& dataFolder, QObject* parent = nullptr);
    ~OnlineServices() override;

    // True when a usable host is set; nothing else does anything otherwise.
    bool isEnabled() const { return !m_baseUrl.isEmpty(); }
    QString host() const { return m_host; }
    QString baseUrl() const { return m_baseUrl; }

    // Tests shorten the time a request may take (default 5 s).
    void setTransferTimeout(int ms) { m_timeoutMs = ms; }

    // The stored advert to show at start; empty without a host or file.
    QString storedAdvert() const;
    // The last completed check's time from the stamp file, when it holds one.
    std::optional<qint64> lastCheckTime() const;
    // Whether the start-up check is due by the stamp file at `now`.
    bool isCheckDue(qint64 now) const;

    // Sends the update request and the advert request when a host is set and
    // the check is due (or `force`). True when the two requests went out;
    // their answers arrive through checkVersionReadyRead and advLinkRead.
    bool startOnlineChecks(bool force = false);

    // Acts on an update answer: a usable "up to date" answer moves the stamp
    // (written under a temporary name, then renamed). Returns what the
    // answer said; a failed or non-200 answer is Unreadable and writes
    // nothing.
    UpdateVerdict takeUpdateAnswer(const OnlineAnswer& answer);
    // Acts on an advert answer: a usable one is stored in "last-adv" and
    // returned for the label; anything else changes nothing.
    std::optional<QString> takeAdvertAnswer(const OnlineAnswer& answer);

    // Posts one error report (fire and forget): returns at once, the answer
    // is ignored. Returns the request in flight for callers that want to
    // wait for it (the command line), null without a host.
    QNetworkReply* sendErrorReport(const QString& text);
    // The report's body for `text`, exactly as sendErrorReport sends it.
    static QByteArray errorReportBody(const QString& text);

    // The manual update page with the volume serial; empty without a host.
    QUrl updatePageUrl(quint32 volumeSerial) const;

signals:
    void checkVersionReadyRead(const OnlineAnswer& answer);
    void advLinkRead(const OnlineAnswer& answer);
    // An error report got its answer or failed (`answer.isOk()` when taken).
    void errorReportFinished(const OnlineAnswer& answer);

private:
    QNetworkRequest request(const QString& pathAndQuery) const;
    // Collects the reply's answer within the size limit and hands it to
    // `done` once it ended.
    template <typename Done>
    void collect(QNetworkReply* reply, Done done);
    std::optional<QByteArray> readDataFile(const char* name, qint64 limit) const;
    bool writeDataFile(const char* name, const QByteArray& content) const;

    QString m_host;
    QString m_baseUrl;
    QString m_dataFolder;
    int m_timeoutMs = online::kTransferTimeoutMs;
    QNetworkAccessManager* m_manager = nullptr;  // created on the first request
};
