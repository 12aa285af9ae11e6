// Backup encryption figures beside the raw tools in the same run:
//   1. a large file decrypted with decryptFileThrow and encrypted back with
//      encryptFileThrow, beside `openssl enc -aes-256-cbc` on the same file,
//      key and IV (ratio = openssl's time / ours; 1.0 means as fast);
//   2. the 10-million-round key derivation of a Manifest.db keybag beside
//      Python's hashlib.pbkdf2_hmac with the same parameters.
// Usage: backupcrypto_bench [SIZE_MB (512)] [WORK_FOLDER ($TMPDIR)]
#include "itunes/backupmanifest.h"
#include "itunes/keybag.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdio>
#include <random>

namespace {

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

QByteArray sha1Of(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QCryptographicHash h(QCryptographicHash::Sha1);
    h.addData(&f);
    return h.result().toHex();
}

double runTool(const QString& program, const QStringList& args)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return -1;
    }
    return seconds(t);
}

QByteArray be32(quint32 v)
{
    char b[4];
    qToBigEndian(v, b);
    return QByteArray(b, 4);
}

QByteArray entry(const char* tag, const QByteArray& value) { return QByteArray(tag, 4) + be32(value.size()) + value; }

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 sizeMb = args.size() > 1 ? args[1].toLongLong() : 512;
    QTemporaryDir work(args.size() > 2 ? args[2] + QStringLiteral("/backupcrypto-XXXXXX") : QString());
    if (!work.isValid() || sizeMb < 1) {
        std::fprintf(stderr, "usage: backupcrypto_bench [SIZE_MB] [WORK_FOLDER]\n");
        return 2;
    }
    const QString plain = work.filePath(QStringLiteral("plain.bin"));
    const QString ours = work.filePath(QStringLiteral("ours.enc"));
    const QString oursBack = work.filePath(QStringLiteral("ours.dec"));
    const QString theirs = work.filePath(QStringLiteral("openssl.enc"));
    const QString theirsBack = work.filePath(QStringLiteral("openssl.dec"));
    {
        QFile f(plain);
        f.open(QIODevice::WriteOnly);
        std::mt19937_64 rng(42);
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 i = 0; i < sizeMb; ++i) {
            auto* w = reinterpret_cast<quint64*>(block.data());
            for (int j = 0; j < block.size() / 8; ++j)
                w[j] = rng();
            f.write(block);
        }
        f.write("odd tail");  // not a whole block: the padding path is measured too
    }
    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    const QString keyHex = QString::fromLatin1(key.toHex());
    const QString ivHex = QStringLiteral("00000000000000000000000000000000");

    std::printf("Backup file crypto, %lld MB + 8 bytes, AES-256-CBC, zero IV, 8192-byte chunks\n", sizeMb);
    // Warm the page cache for both sides alike.
    sha1Of(plain);

    QElapsedTimer t;
    t.start();
    BackupManifest::encryptFileThrow(plain, ours, key);
    const double ourEncrypt = seconds(t);
    const double sslEncrypt = runTool(QStringLiteral("openssl"),
                                      {QStringLiteral("enc"), QStringLiteral("-aes-256-cbc"), QStringLiteral("-K"), keyHex,
                                       QStringLiteral("-iv"), ivHex, QStringLiteral("-in"), plain,
                                       QStringLiteral("-out"), theirs});
    t.restart();
    BackupManifest::decryptFileThrow(key, ours, oursBack);
    const double ourDecrypt = seconds(t);
    const double sslDecrypt = runTool(QStringLiteral("openssl"),
                                      {QStringLiteral("enc"), QStringLiteral("-d"), QStringLiteral("-aes-256-cbc"),
                                       QStringLiteral("-K"), keyHex, QStringLiteral("-iv"), ivHex,
                                       QStringLiteral("-in"), theirs, QStringLiteral("-out"), theirsBack});
    const bool sameCipher = sha1Of(ours) == sha1Of(theirs);
    const bool roundTrip = sha1Of(oursBack) == sha1Of(plain);
    const double mb = double(sizeMb);
    std::printf("  decryptFileThrow    %7.3f s  %7.1f MB/s\n", ourDecrypt, mb / ourDecrypt);
    std::printf("  openssl enc -d      %7.3f s  %7.1f MB/s   ratio %.2f\n", sslDecrypt, mb / sslDecrypt,
                sslDecrypt / ourDecrypt);
    std::printf("  encryptFileThrow    %7.3f s  %7.1f MB/s\n", ourEncrypt, mb / ourEncrypt);
    std::printf("  openssl enc         %7.3f s  %7.1f MB/s   ratio %.2f\n", sslEncrypt, mb / sslEncrypt,
                sslEncrypt / ourEncrypt);
    std::printf("  same ciphertext as openssl: %s; decrypted equals the original: %s\n", sameCipher ? "yes" : "NO",
                roundTrip ? "yes" : "NO");
    for (const QString& f : {plain, ours, oursBack, theirs, theirsBack})
        QFile::remove(f);

    // Key derivation of a Manifest.db keybag: 10,000,000 SHA-256 rounds (DPIC)
    // then 10,000 SHA-1 rounds (ITER).
    const QByteArray dpsl = QByteArray(20, 'd');
    const QByteArray salt = QByteArray(20, 's');
    const Keybag bag = parseKeybag(entry("SALT", salt) + entry("ITER", be32(10000)) + entry("DPSL", dpsl)
                                   + entry("DPIC", be32(10000000)));
    t.restart();
    const QByteArray derived = keybagPasswordKey(QStringLiteral("0000"), bag);
    const double ourKdf = seconds(t);
    const QString script = QStringLiteral(
        "import hashlib,time\n"
        "t=time.perf_counter()\n"
        "k=hashlib.pbkdf2_hmac('sha256',b'0000',b'd'*20,10000000,32)\n"
        "k=hashlib.pbkdf2_hmac('sha1',k,b's'*20,10000,32)\n"
        "print(k.hex(), time.perf_counter()-t)\n");
    QProcess py;
    py.start(QStringLiteral("python3"), {QStringLiteral("-c"), script});
    py.waitForFinished(-1);
    const QList<QByteArray> parts = py.readAllStandardOutput().trimmed().split(' ');
    const double pyKdf = parts.size() == 2 ? parts[1].toDouble() : -1;
    std::printf("Key derivation, PBKDF2-HMAC-SHA256 x 10,000,000 then PBKDF2-HMAC-SHA1 x 10,000\n");
    std::printf("  keybagPasswordKey   %7.3f s\n", ourKdf);
    std::printf("  hashlib.pbkdf2_hmac %7.3f s   ratio %.2f   same key: %s\n", pyKdf, pyKdf / ourKdf,
                parts.value(0) == derived.toHex() ? "yes" : "NO");
    return sameCipher && roundTrip ? 0 : 1;
}
