#include "itunes/qopensslevpaes.h"

#include <QIODevice>
#include <QVarLengthArray>
#include <QtDebug>

#include <cstring>
#include <vector>

namespace {

// The length of valid PKCS#7 padding at the end of a block, 0 when the block
// does not end in such padding.
int pkcs7PaddingLength(const char* block, int blockSize)
{
    if (blockSize <= 0)
        return 0;
    const int n = static_cast<unsigned char>(block[blockSize - 1]);
    if (n < 1 || n > blockSize)
        return 0;
    for (int i = blockSize - n; i < blockSize; ++i) {
        if (static_cast<unsigned char>(block[i]) != n)
            return 0;
    }
    return n;
}

}  // namespace

QOpenSSLEVPAES::QOpenSSLEVPAES() : m_ctx(EVP_CIPHER_CTX_new()) {}

QOpenSSLEVPAES::~QOpenSSLEVPAES()
{
    EVP_CIPHER_CTX_free(m_ctx);
}

const EVP_CIPHER* QOpenSSLEVPAES::cbcCipherForKey(int keyLength)
{
    switch (keyLength) {
    case 16: return EVP_aes_128_cbc();
    case 24: return EVP_aes_192_cbc();
    case 32: return EVP_aes_256_cbc();
    default: return nullptr;
    }
}

bool QOpenSSLEVPAES::init(const EVP_CIPHER* cipher, const QByteArray& key, const QByteArray& iv, bool encrypt)
{
    m_heldBlock.clear();
    m_encrypt = encrypt;
    m_manualPadding = false;
    bool ok = m_ctx != nullptr && cipher != nullptr && key.size() == EVP_CIPHER_key_length(cipher);
    // A wrap cipher takes its default initial value when no IV is given.
    const int ivLength = EVP_CIPHER_iv_length(cipher ? cipher : EVP_aes_256_cbc());
    const bool wrapMode = cipher && EVP_CIPHER_mode(cipher) == EVP_CIPH_WRAP_MODE;
    if (ok && !(wrapMode && iv.isEmpty()) && iv.size() != ivLength)
        ok = false;
    if (ok) {
        EVP_CIPHER_CTX_reset(m_ctx);
        if (wrapMode)
            EVP_CIPHER_CTX_set_flags(m_ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
        ok = EVP_CipherInit_ex(m_ctx, cipher, nullptr, reinterpret_cast<const unsigned char*>(key.constData()),
                               iv.isEmpty() ? nullptr : reinterpret_cast<const unsigned char*>(iv.constData()),
                               encrypt ? 1 : 0) == 1;
    }
    if (!ok) {
        lastError = QStringLiteral("QOpenSSLEVPAES::init, EVP_CipherInit_ex return false.");
        return false;
    }
    m_blockSize = EVP_CIPHER_block_size(cipher);
    if (!encrypt && EVP_CIPHER_mode(cipher) == EVP_CIPH_CBC_MODE && m_blockSize > 1) {
        m_manualPadding = true;
        EVP_CIPHER_CTX_set_padding(m_ctx, 0);
    }
    return true;
}

bool QOpenSSLEVPAES::cipherUpdate(const unsigned char* in, int inLength, unsigned char* out, int* outLength)
{
    *outLength = 0;
    if (inLength == 0)
        return true;
    return EVP_CipherUpdate(m_ctx, out, outLength, in, inLength) == 1 && *outLength >= 0;
}

QByteArray QOpenSSLEVPAES::update(const QByteArray& bytes)
{
    QByteArray out(bytes.size() + 2 * m_blockSize + 16, Qt::Uninitialized);
    int produced = 0;
    if (!cipherUpdate(reinterpret_cast<const unsigned char*>(bytes.constData()), int(bytes.size()),
                      reinterpret_cast<unsigned char*>(out.data()), &produced)) {
        lastError = QStringLiteral("QOpenSSLEVPAES::update, EVP_CipherUpdate return false.");
        return {};
    }
    out.resize(produced);
    if (!m_manualPadding)
        return out;
    // Keep the newest block back: only the end tells whether it is padding.
    QByteArray all = m_heldBlock + out;
    if (all.size() < m_blockSize) {
        m_heldBlock = all;
        return {};
    }
    m_heldBlock = all.right(m_blockSize);
    all.chop(m_blockSize);
    return all;
}

QByteArray QOpenSSLEVPAES::finishDecryption(bool* cipherOk)
{
    unsigned char rest[64];
    int restLength = 0;
    *cipherOk = EVP_CipherFinal_ex(m_ctx, rest, &restLength) == 1;
    QByteArray block = m_heldBlock;
    m_heldBlock.clear();
    if (block.size() == m_blockSize)
        block.chop(pkcs7PaddingLength(block.constData(), m_blockSize));
    return block;
}

QByteArray QOpenSSLEVPAES::final()
{
    if (m_manualPadding) {
        bool ok = true;
        QByteArray block = finishDecryption(&ok);
        if (!ok)
            lastError = QStringLiteral("QOpenSSLEVPAES::final, EVP_CipherFinal_ex return false.");
        return block;
    }
    QByteArray out(64, Qt::Uninitialized);
    int produced = 0;
    if (EVP_CipherFinal_ex(m_ctx, reinterpret_cast<unsigned char*>(out.data()), &produced) != 1 || produced < 0) {
        lastError = QStringLiteral("QOpenSSLEVPAES::final, EVP_CipherFinal_ex return false.");
        return {};
    }
    out.resize(produced);
    return out;
}

qint64 QOpenSSLEVPAES::updateAll(QIODevice* input, QIODevice* output, int chunkSize)
{
    if (chunkSize < 1)
        chunkSize = 8192;
    std::vector<char> in(static_cast<size_t>(chunkSize));
    // Room for a held block in front of the cipher's output.
    std::vector<char> out(static_cast<size_t>(chunkSize) + 2 * m_blockSize + 16);
    qint64 total = 0;
    for (;;) {
        const qint64 got = input->read(in.data(), chunkSize);
        if (got < 0) {
            lastError = QStringLiteral("QOpenSSLEVPAES::updateAll, read file error.");
            return -1;
        }
        if (got == 0)
            break;
        const int held = m_manualPadding ? int(m_heldBlock.size()) : 0;
        if (held > 0)
            std::memcpy(out.data(), m_heldBlock.constData(), static_cast<size_t>(held));
        int produced = 0;
        if (!cipherUpdate(reinterpret_cast<const unsigned char*>(in.data()), int(got),
                          reinterpret_cast<unsigned char*>(out.data() + held), &produced)) {
            lastError = QStringLiteral("QOpenSSLEVPAES::updateAll, EVP_CipherUpdate return false.");
            return -1;
        }
        qint64 ready = held + produced;
        if (m_manualPadding) {
            const qint64 keep = qMin<qint64>(ready, m_blockSize);
            m_heldBlock = QByteArray(out.data() + ready - keep, int(keep));
            ready -= keep;
        }
        if (ready > 0) {
            if (output->write(out.data(), ready) != ready) {
                lastError = QStringLiteral("QOpenSSLEVPAES::updateAll, write file error, %1").arg(output->errorString());
                return -1;
            }
            total += ready;
        }
    }
    return total;
}

qint64 QOpenSSLEVPAES::finalAll(QIODevice* output, int chunkSize)
{
    Q_UNUSED(chunkSize);
    QByteArray rest;
    if (m_manualPadding) {
        bool ok = true;
        rest = finishDecryption(&ok);
        if (!ok)
            lastError = QStringLiteral("QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false.");
    } else {
        unsigned char buf[64];
        int produced = 0;
        if (EVP_CipherFinal_ex(m_ctx, buf, &produced) != 1) {
            lastError = QStringLiteral("QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false.");
            return 0;
        }
        if (produced < 0) {
            qWarning("QOpenSSLEVPAES::finalAll, wd=%d", produced);
            produced = 0;
        }
        rest = QByteArray(reinterpret_cast<const char*>(buf), produced);
    }
    if (rest.isEmpty())
        return 0;
    if (output->write(rest) != rest.size()) {
        lastError = QStringLiteral("QOpenSSLEVPAES::finalAll, write file error, %1").arg(output->errorString());
        return -1;
    }
    return rest.size();
}

QByteArray aesKeyWrap(const QByteArray& key, const QByteArray& data, bool encrypt)
{
    const EVP_CIPHER* cipher = nullptr;
    switch (key.size()) {
    case 16: cipher = EVP_aes_128_wrap(); break;
    case 24: cipher = EVP_aes_192_wrap(); break;
    case 32: cipher = EVP_aes_256_wrap(); break;
    default: return {};
    }
    QOpenSSLEVPAES aes;
    if (!aes.init(cipher, key, QByteArray(), encrypt))
        return {};
    QByteArray out = aes.update(data);
    if (out.isEmpty())
        return {};
    return out + aes.final();
}
