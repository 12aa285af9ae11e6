#include "online/onlineservices.h"

#include "base/productinfo.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>

#include <memory>

QString OnlineAnswer::reason() const
{
    if (!failure.isEmpty())
        return failure;
    if (status != 200)
        return QStringLiteral("HTTP status %1").arg(status);
    return QString();
}

OnlineServices::OnlineServices(const QString& host, const QString& dataFolder, QObject* parent)
    : QObject(parent), m_host(host), m_baseUrl(product::vendorBaseUrl(host)), m_dataFolder(dataFolder)
{
    qRegisterMetaType<OnlineAnswer>();
}

OnlineServices::~OnlineServices() = default;

std::optional<QByteArray> OnlineServices::readDataFile(const char* name, qint64 limit) const
{
    if (!isEnabled() || m_dataFolder.isEmpty())
        return std::nullopt;
    QFile file(QDir(m_dataFolder).filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // One byte over the limit tells a file that is too large from one that
    // is exactly at it.
    QByteArray content = file.read(limit + 1);
    if (content.size() > limit)
        return std::nullopt;
    return content;
}

bool OnlineServices::writeDataFile(const char* name, const QByteArray& content) const
{
    if (!isEnabled() || m_dataFolder.isEmpty())
        return false;
    // Written under a temporary name and renamed, so a crash or a full disk
    // never leaves half a stamp or half an advert behind.
    QSaveFile file(QDir(m_dataFolder).filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString OnlineServices::storedAdvert() const
{
    const std::optional<QByteArray> stored = readDataFile(online::kAdvertFile, online::kAdvertLimit);
    return stored ? QString::fromUtf8(*stored) : QString();
}

std::optional<qint64> OnlineServices::lastCheckTime() const
{
    return online::stampTime(readDataFile(online::kStampFile, 64));
}

bool OnlineServices::isCheckDue(qint64 now) const
{
    return online::isCheckDue(readDataFile(online::kStampFile, 64), now);
}

QNetworkRequest OnlineServices::request(const QString& pathAndQuery) const
{
    QNetworkRequest r(QUrl(m_baseUrl + pathAndQuery, QUrl::StrictMode));
    r.setHeader(QNetworkRequest::UserAgentHeader, online::userAgent());
    // Qt would send the user's locale; the server learns nothing of it.
    r.setRawHeader("Accept-Language", "en");
    // Only a 200 answer counts; a redirect is an answer like any other
    // non-200 one, and nothing is ever fetched from another host.
    r.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // No cookie is stored or sent back.
    r.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    r.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    r.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    r.setTransferTimeout(m_timeoutMs);
    return r;
}

template <typename Done>
void OnlineServices::collect(QNetworkReply* reply, Done done)
{
    struct State {
        QByteArray body;
        bool oversize = false;
    };
    auto state = std::make_shared<State>();
    const auto tooLarge = [reply, state] {
        if (state->oversize)
            return;
        state->oversize = true;
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, tooLarge] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > online::kAnswerLimit)
            tooLarge();
    });
    connect(reply, &QIODevice::readyRead, this, [reply, state, tooLarge] {
        if (state->oversize)
            return;
        state->body += reply->read(online::kAnswerLimit + 1 - state->body.size());
        if (state->body.size() > online::kAnswerLimit)
            tooLarge();
    });
    connect(reply, &QNetworkReply::finished, this, [reply, state, done] {
        OnlineAnswer answer;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        answer.status = status.isValid() ? status.toInt() : 0;
        if (state->oversize) {
            answer.failure = QStringLiteral("answer larger than %1 KiB").arg(online::kAnswerLimit / 1024);
        } else if (reply->error() == QNetworkReply::OperationCanceledError
                   || reply->error() == QNetworkReply::TimeoutError) {
            answer.failure = QStringLiteral("timed out");
        } else if (answer.status == 0 && reply->error() != QNetworkReply::NoError) {
            answer.failure = reply->errorString();
        } else if (answer.status == 0) {
            answer.failure = QStringLiteral("no HTTP answer");
        } else {
            state->body += reply->read(online::kAnswerLimit + 1 - state->body.size());
            if (state->body.size() > online::kAnswerLimit)
                answer.failure = QStringLiteral("answer larger than %1 KiB").arg(online::kAnswerLimit / 1024);
            else
                answer.body = state->body;
        }
        reply->deleteLater();
        done(answer);
    });
}

bool OnlineServices::startOnlineChecks(bool force)
{
    if (!isEnabled())
        return false;
    if (!force && !isCheckDue(QDateTime::currentSecsSinceEpoch()))
        return false;
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    collect(m_manager->get(request(online::updateCheckPath())),
            [this](const OnlineAnswer& a) { emit checkVersionReadyRead(a); });
    collect(m_manager->get(request(online::advertPath())), [this](const OnlineAnswer& a) { emit advLinkRead(a); });
    return true;
}

UpdateVerdict OnlineServices::takeUpdateAnswer(const OnlineAnswer& answer)
{
    if (!isEnabled() || !answer.isOk())
        return UpdateVerdict();
    UpdateVerdict verdict = online::readUpdateAnswer(answer.body);
    if (verdict.kind == UpdateVerdict::UpToDate)
        writeDataFile(online::kStampFile, QByteArray::number(QDateTime::currentSecsSinceEpoch()));
    return verdict;
}

std::optional<QString> OnlineServices::takeAdvertAnswer(const OnlineAnswer& answer)
{
    if (!isEnabled() || !answer.isOk())
        return std::nullopt;
    std::optional<QString> advert = online::advertFromAnswer(answer.body);
    if (advert)
        writeDataFile(online::kAdvertFile, advert->toUtf8());
    return advert;
}

QByteArray OnlineServices::errorReportBody(const QString& text)
{
    return online::errorReportBody(QCoreApplication::translate("product", product::kName), text, QDir::homePath());
}

QNetworkReply* OnlineServices::sendErrorReport(const QString& text)
{
    if (!isEnabled())
        return nullptr;
    if (!m_manager)
        m_manager = new QNetworkAccessManager(this);
    QNetworkRequest r = request(QString::fromLatin1(online::kErrorReportPath));
    r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply* reply = m_manager->post(r, errorReportBody(text));
    collect(reply, [this](const OnlineAnswer& a) { emit errorReportFinished(a); });
    return reply;
}

QUrl OnlineServices::updatePageUrl(quint32 volumeSerial) const
{
    if (!isEnabled())
        return QUrl();
    return QUrl(m_baseUrl + online::updatePagePath(volumeSerial), QUrl::StrictMode);
}
