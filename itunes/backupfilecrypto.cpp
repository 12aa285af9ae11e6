// Whole-file AES-256-CBC of backup files and manifests, streamed in
// 8192-byte chunks; the destination appears only once complete.
#include "itunes/backupmanifest.h"

#include "base/apperror.h"
#include "base/fileutil.h"
#include "itunes/qopensslevpaes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr int kChunk = 8192;

QByteArray zeroIv() { return QByteArray(16, '\0'); }

}  // namespace

void BackupManifest::decryptFileThrow(const QByteArray& key, const QString& sourcePath,
                                      const QString& destinationPath)
{
    QFile in(sourcePath);
    if (!in.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("can not open %1. %2").arg(sourcePath, in.errorString()));
    QDir().mkpath(QFileInfo(destinationPath).absolutePath());
    refuseSymbolicLink(destinationPath);
    QSaveFile out(destinationPath);
    if (!out.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("can not create %1. %2").arg(destinationPath, out.errorString()));
    QOpenSSLEVPAES aes;
    if (!aes.init(EVP_aes_256_cbc(), key, zeroIv(), false) || aes.updateAll(&in, &out, kChunk) < 0
        || aes.finalAll(&out, kChunk) < 0)
        throw AppError(QStringLiteral("BackupManifest::decryptFile: decrypt failed. %1").arg(aes.lastError));
    if (!out.commit())
        throw AppError(QStringLiteral("write %1 failed. %2").arg(destinationPath, out.errorString()));
}

void BackupManifest::encryptFileThrow(const QString& sourcePath, const QString& destinationPath,
                                      const QByteArray& key)
{
    refuseSymbolicLink(destinationPath);
    if (key.isEmpty()) {
        QFile in(sourcePath);
        if (QFileInfo::exists(destinationPath) || !in.copy(destinationPath))
            throw AppError(QStringLiteral("can not write %1. %2")
                               .arg(destinationPath,
                                    QFileInfo::exists(destinationPath) ? QStringLiteral("The file exists.")
                                                                       : in.errorString()));
        return;
    }
    QFile in(sourcePath);
    if (!in.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("can not open %1. %2").arg(sourcePath, in.errorString()));
    QSaveFile out(destinationPath);
    if (!out.open(QIODevice::WriteOnly))
        throw AppError(QStringLiteral("can not create %1. %2").arg(destinationPath, out.errorString()));
    QOpenSSLEVPAES aes;
    if (!aes.init(EVP_aes_256_cbc(), key, zeroIv(), true) || aes.updateAll(&in, &out, kChunk) < 0
        || aes.finalAll(&out, kChunk) < 0)
        throw AppError(QStringLiteral("BackupManifest::encryptFileThrow: encrypt failed. %1").arg(aes.lastError));
    if (!out.commit())
        throw AppError(QStringLiteral("write %1 failed. %2").arg(destinationPath, out.errorString()));
}

