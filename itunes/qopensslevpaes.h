// The AES wrapper over OpenSSL EVP used for every cipher operation on iTunes
// backups: CBC streams of files and manifests, one-shot buffers, and the
// RFC 3394 key wrap of the keybag. One object owns one cipher context and
// belongs to one thread.
//
// Decryption keeps PKCS#7 padding in its own hands: a last block that carries
// valid padding loses it, a last block that does not is kept as decrypted
// (the writer did not pad), and neither case is an error.
#pragma once

#include <QByteArray>
#include <QString>

#include <openssl/evp.h>

class QIODevice;

class QOpenSSLEVPAES {
public:
    QOpenSSLEVPAES();
    ~QOpenSSLEVPAES();
    QOpenSSLEVPAES(const QOpenSSLEVPAES&) = delete;
    QOpenSSLEVPAES& operator=(const QOpenSSLEVPAES&) = delete;

    // AES-128/192/256-CBC by key length 16/24/32; null for any other length.
    static const EVP_CIPHER* cbcCipherForKey(int keyLength);

    // Starts a cipher run; false (with lastError) when OpenSSL refuses.
    bool init(const EVP_CIPHER* cipher, const QByteArray& key, const QByteArray& iv, bool encrypt);
    // One step: the bytes that come out (empty on failure, with lastError).
    QByteArray update(const QByteArray& bytes);
    // Finishes the run: the remaining bytes (padding handled as above).
    QByteArray final();

    // Streams input to output in chunks of chunkSize bytes until the input
    // ends. Returns the number of bytes written, or -1 with lastError.
    qint64 updateAll(QIODevice* input, QIODevice* output, int chunkSize = 8192);
    // Finishes the run and writes what remains; the number of bytes
    // written, or -1 with lastError after a short write.
    qint64 finalAll(QIODevice* output, int chunkSize = 8192);

    QString lastError;

private:
    bool cipherUpdate(const unsigned char* in, int inLength, unsigned char* out, int* outLength);
    QByteArray finishDecryption(bool* cipherOk);

    EVP_CIPHER_CTX* m_ctx;
    bool m_encrypt = true;
    bool m_manualPadding = false;  // decrypting a block cipher with PKCS#7 handled here
    int m_blockSize = 16;
    QByteArray m_heldBlock;  // the last decrypted block, kept back until the end
};

// RFC 3394 key wrap (encrypt) or unwrap with AES-128/192/256 by key length.
// Empty on any failure: a bad key length, a failed integrity check.
QByteArray aesKeyWrap(const QByteArray& key, const QByteArray& data, bool encrypt);
