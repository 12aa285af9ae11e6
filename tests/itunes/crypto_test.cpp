// Keybag parsing and unlocking, key derivation, key wrap and the streaming
// AES wrapper, checked against published vectors where they exist.
#include "itunestestutil.h"

#include "base/apperror.h"

using namespace itest;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(text); }

QByteArray runStream(QOpenSSLEVPAES& aes, const QByteArray& input, qint64* written = nullptr)
{
    QByteArray in = input;
    QBuffer source(&in);
    source.open(QIODevice::ReadOnly);
    QByteArray out;
    QBuffer sink(&out);
    sink.open(QIODevice::WriteOnly);
    const qint64 a = aes.updateAll(&source, &sink, 8192);
    const qint64 b = aes.finalAll(&sink, 8192);
    if (written)
        *written = (a < 0 || b < 0) ? -1 : a + b;
    return out;
}

}  // namespace

TEST(Keybag, ParsesAttributesAndClasses)
{
    const TestKeybag kb = makeKeybag(QStringLiteral("pw"), 10, true, {{1, 3}, {3, 1}});
    const Keybag bag = parseKeybag(kb.bytes);
    EXPECT_EQ(bag.attributes.value("UUID"), filled(16, 'u'));
    EXPECT_EQ(keybagUInt32(bag.attributes.value("WRAP")), 1u);
    EXPECT_EQ(keybagUInt32(bag.attributes.value("ITER")), 10u);
    EXPECT_TRUE(bag.attributes.contains("DPSL"));
    ASSERT_EQ(bag.classKeys.keys(), (QList<quint32>{1, 3}));
    // The class's own UUID and WRAP belong to the class, not the keybag.
    EXPECT_EQ(bag.classKeys[3].value("UUID"), filled(16, char('a' + 3)));
    EXPECT_EQ(keybagUInt32(bag.classKeys[3].value("WRAP")), 1u);
    EXPECT_EQ(bag.classKeys[1].value("WPKY").size(), 40);
}

TEST(Keybag, HostileLengthsEndTheParse)
{
    const QByteArray good = entry("SALT", "abc") + entry("ITER", be32(5));
    struct Case {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"length beyond the data", good + QByteArray("CLAS") + be32(0xFFFFFFF0u) + be32(1)},
        {"length one past the end", good + QByteArray("WPKY") + be32(5) + "abcd"},
        {"cut header", good + QByteArray("CLA")},
        {"huge length word", good + QByteArray("UUID") + be32(0x80000000u)},
    };
    for (const Case& c : cases) {
        const Keybag bag = parseKeybag(c.bytes);
        EXPECT_EQ(bag.attributes.value("SALT"), QByteArray("abc")) << c.name;
        EXPECT_EQ(bag.attributes.size(), 2) << c.name;
        EXPECT_TRUE(bag.classKeys.isEmpty()) << c.name;
    }
    EXPECT_TRUE(parseKeybag(QByteArray()).isEmpty());
}

TEST(Keybag, IterationCountsOutOfBoundsAreRefusedBeforeWork)
{
    struct Case {
        quint32 iter;
        bool dp;
        quint32 dpic;
    } cases[] = {{0, false, 0}, {kMaxKeybagIterations + 1, false, 0}, {0xFFFFFFFFu, false, 0},
                 {10, true, kMaxKeybagIterations + 1}, {10, true, 0}};
    for (const Case& c : cases) {
        QByteArray bytes = entry("SALT", "s") + entry("ITER", be32(c.iter));
        if (c.dp)
            bytes += entry("DPSL", "d") + entry("DPIC", be32(c.dpic));
        Keybag bag = parseKeybag(bytes);
        // The refusal names the count: it comes from the check, not from a
        // derivation that ran (tens of millions of rounds) and then failed.
        const quint32 refused = c.dp ? c.dpic : c.iter;
        try {
            unlockKeybag(QStringLiteral("pw"), bag);
            ADD_FAILURE() << "accepted " << c.iter << " " << c.dpic;
        } catch (const AppError& e) {
            const QString text = QString::fromUtf8(e.what());
            EXPECT_TRUE(text.contains(QStringLiteral("= %1 is out of range").arg(refused))) << text.toStdString();
        }
    }
}

TEST(Keybag, PasswordKeyDerivation)
{
    // RFC 6070: PBKDF2-HMAC-SHA1("password", "salt", 2); the first 20 of 32 bytes.
    Keybag sha1Only = parseKeybag(entry("SALT", "salt") + entry("ITER", be32(2)));
    EXPECT_EQ(keybagPasswordKey(QStringLiteral("password"), sha1Only).left(20),
              hex("ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"));
    // SHA-256 pass (DPSL, DPIC) then SHA-1 (SALT, ITER), as computed by Python's hashlib.
    Keybag both = parseKeybag(entry("SALT", "salt-value") + entry("ITER", be32(5)) + entry("DPSL", "dpsl-salt")
                              + entry("DPIC", be32(3)));
    EXPECT_EQ(keybagPasswordKey(QStringLiteral("0000"), both),
              hex("8574509742faaf724415344a07984c53d188a0b81d1e4b6973fe2a1812ad0ec5"));
    // DPIC without DPSL: only the SHA-1 pass.
    Keybag dpicOnly = parseKeybag(entry("SALT", "salt") + entry("ITER", be32(2)) + entry("DPIC", be32(3)));
    EXPECT_EQ(keybagPasswordKey(QStringLiteral("password"), dpicOnly).left(20),
              hex("ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"));
}

TEST(Keybag, UnlockLeavesWrap1ClassesLockedAndRefusesWrongPassword)
{
    for (bool dp : {false, true}) {
        const TestKeybag kb = makeKeybag(QStringLiteral("secret"), 7, dp, {{1, 3}, {2, 1}, {3, 2}, {4, 3}});
        Keybag bag = parseKeybag(kb.bytes);
        ASSERT_TRUE(unlockKeybag(QStringLiteral("secret"), bag)) << dp;
        EXPECT_EQ(bag.classKeys[1].value("KEY"), kb.classKeys[1]);
        EXPECT_FALSE(bag.classKeys[2].contains("KEY"));
        EXPECT_EQ(bag.classKeys[3].value("KEY"), kb.classKeys[3]);
        EXPECT_EQ(bag.classKeys[4].value("KEY"), kb.classKeys[4]);

        Keybag wrong = parseKeybag(kb.bytes);
        EXPECT_FALSE(unlockKeybag(QStringLiteral("secreT"), wrong)) << dp;
    }
}

TEST(Keybag, UnwrapFileKey)
{
    const TestKeybag kb = makeKeybag(QStringLiteral("pw"), 3, false, {{3, 3}, {4, 1}});
    Keybag bag = parseKeybag(kb.bytes);
    ASSERT_TRUE(unlockKeybag(QStringLiteral("pw"), bag));
    const QByteArray fileKey = filled(32, 'F');
    const QByteArray wrapped = aesKeyWrap(kb.classKeys[3], fileKey, true);
    ASSERT_EQ(wrapped.size(), 40);
    EXPECT_EQ(unwrapFileKey(bag, 3, wrapped), fileKey);
    EXPECT_TRUE(unwrapFileKey(bag, 3, wrapped + 'x').isEmpty());      // 41 bytes
    EXPECT_TRUE(unwrapFileKey(bag, 3, wrapped.left(39)).isEmpty());   // 39 bytes
    EXPECT_TRUE(unwrapFileKey(bag, 9, wrapped).isEmpty());            // no such class
    EXPECT_TRUE(unwrapFileKey(bag, 4, wrapped).isEmpty());            // class left locked
    QByteArray tampered = wrapped;
    tampered[5] = char(tampered[5] ^ 1);
    EXPECT_TRUE(unwrapFileKey(bag, 3, tampered).isEmpty());
}

TEST(AesKeyWrap, Rfc3394Vectors)
{
    const QByteArray kek128 = hex("000102030405060708090A0B0C0D0E0F");
    const QByteArray data128 = hex("00112233445566778899AABBCCDDEEFF");
    const QByteArray wrapped128 = hex("1FA68B0A8112B447AEF34BD8FB5A7B829D3E862371D2CFE5");
    EXPECT_EQ(aesKeyWrap(kek128, data128, true), wrapped128);
    EXPECT_EQ(aesKeyWrap(kek128, wrapped128, false), data128);

    const QByteArray kek256 = hex("000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F");
    const QByteArray data256 = hex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F");
    const QByteArray wrapped256 =
        hex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
    EXPECT_EQ(aesKeyWrap(kek256, data256, true), wrapped256);
    EXPECT_EQ(aesKeyWrap(kek256, wrapped256, false), data256);

    EXPECT_TRUE(aesKeyWrap(kek128.left(15), data128, true).isEmpty());
    EXPECT_TRUE(aesKeyWrap(kek256, wrapped256.left(39), false).isEmpty());
    EXPECT_TRUE(aesKeyWrap(hex("FF0102030405060708090A0B0C0D0E0F"), wrapped128, false).isEmpty());
}

TEST(QOpenSSLEVPAES, StreamsMatchTheStandardAcrossChunkBoundaries)
{
    // NIST SP 800-38A F.2.5, CBC-AES256, first block.
    const QByteArray key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const QByteArray iv = hex("000102030405060708090a0b0c0d0e0f");
    {
        QOpenSSLEVPAES aes;
        ASSERT_TRUE(aes.init(EVP_aes_256_cbc(), key, iv, true));
        const QByteArray out = runStream(aes, hex("6bc1bee22e409f96e93d7e117393172a"));
        ASSERT_EQ(out.size(), 32);  // one block plus a padding block
        EXPECT_EQ(out.left(16), hex("f58c4c04d6e5f1ba779eabfb5f7bfbd6"));
    }
    for (int size : {0, 1, 15, 16, 17, 8191, 8192, 8193, 8208, 20000}) {
        QByteArray plain(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            plain[i] = char(i * 7 + 3);
        QOpenSSLEVPAES enc;
        ASSERT_TRUE(enc.init(EVP_aes_256_cbc(), key, iv, true));
        qint64 n = 0;
        const QByteArray cipher = runStream(enc, plain, &n);
        EXPECT_EQ(cipher.size(), (size / 16 + 1) * 16) << size;
        EXPECT_EQ(n, cipher.size());
        QOpenSSLEVPAES dec;
        ASSERT_TRUE(dec.init(EVP_aes_256_cbc(), key, iv, false));
        EXPECT_EQ(runStream(dec, cipher, &n), plain) << size;
        EXPECT_EQ(n, size);
        EXPECT_TRUE(dec.lastError.isEmpty());
        // The one-shot calls agree with the stream.
        QOpenSSLEVPAES once;
        ASSERT_TRUE(once.init(EVP_aes_256_cbc(), key, iv, false));
        QByteArray joined = once.update(cipher);
        joined += once.final();
        EXPECT_EQ(joined, plain) << size;
    }
}

TEST(QOpenSSLEVPAES, LastBlockWithoutPaddingIsKept)
{
    const QByteArray key = filled(32, 'k');
    const QByteArray iv(16, '\0');
    struct Case {
        const char* name;
        QByteArray plain;  // encrypted without padding
    } cases[] = {
        {"two blocks ending in text", QByteArray("0123456789abcdef0123456789ABCDEF")},
        {"one block ending in 0x00", QByteArray(16, '\0')},
        {"ends in 0x11", QByteArray(15, 'a') + char(0x11)},
        {"ends in 02 03", QByteArray(14, 'a') + char(2) + char(3)},
        {"three chunks and a block", QByteArray(8192 * 3 + 16, 'z')},
    };
    for (const Case& c : cases) {
        QOpenSSLEVPAES raw;
        ASSERT_TRUE(raw.init(EVP_aes_256_cbc(), key, iv, true));
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, reinterpret_cast<const unsigned char*>(key.constData()),
                           reinterpret_cast<const unsigned char*>(iv.constData()));
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        QByteArray cipher(c.plain.size() + 16, '\0');
        int n1 = 0, n2 = 0;
        EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(cipher.data()), &n1,
                          reinterpret_cast<const unsigned char*>(c.plain.constData()), int(c.plain.size()));
        EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(cipher.data()) + n1, &n2);
        EVP_CIPHER_CTX_free(ctx);
        cipher.resize(n1 + n2);

        QOpenSSLEVPAES dec;
        ASSERT_TRUE(dec.init(EVP_aes_256_cbc(), key, iv, false));
        qint64 written = 0;
        EXPECT_EQ(runStream(dec, cipher, &written), c.plain) << c.name;
        EXPECT_EQ(written, c.plain.size()) << c.name;
        EXPECT_TRUE(dec.lastError.isEmpty()) << c.name << " " << dec.lastError.toStdString();
    }
}

TEST(QOpenSSLEVPAES, ErrorTexts)
{
    const QByteArray key = filled(32, 'k');
    const QByteArray iv(16, '\0');
    {
        QOpenSSLEVPAES aes;
        EXPECT_FALSE(aes.init(EVP_aes_256_cbc(), key.left(31), iv, true));
        EXPECT_EQ(aes.lastError, "QOpenSSLEVPAES::init, EVP_CipherInit_ex return false.");
        EXPECT_FALSE(aes.init(nullptr, key, iv, true));
    }
    {
        QOpenSSLEVPAES aes;
        ASSERT_TRUE(aes.init(EVP_aes_256_cbc(), key, iv, true));
        QByteArray in(100, 'a');
        QBuffer source(&in);
        source.open(QIODevice::ReadOnly);
        QByteArray out;
        QBuffer sink(&out);  // opened read-only: every write fails
        sink.open(QIODevice::ReadOnly);
        EXPECT_EQ(aes.updateAll(&source, &sink, 8192), -1);
        EXPECT_TRUE(aes.lastError.startsWith("QOpenSSLEVPAES::updateAll, write file error, "))
            << aes.lastError.toStdString();
        EXPECT_EQ(aes.finalAll(&sink, 8192), -1);
        EXPECT_TRUE(aes.lastError.startsWith("QOpenSSLEVPAES::finalAll, write file error, "));
    }
    {
        QOpenSSLEVPAES aes;
        ASSERT_TRUE(aes.init(EVP_aes_256_cbc(), key, iv, true));
        QBuffer closed;  // not open: reading fails
        QByteArray out;
        QBuffer sink(&out);
        sink.open(QIODevice::WriteOnly);
        EXPECT_EQ(aes.updateAll(&closed, &sink, 8192), -1);
        EXPECT_EQ(aes.lastError, "QOpenSSLEVPAES::updateAll, read file error.");
    }
    {
        // Ciphertext that is not a whole number of blocks cannot finish.
        QOpenSSLEVPAES aes;
        ASSERT_TRUE(aes.init(EVP_aes_256_cbc(), key, iv, false));
        qint64 n = 0;
        runStream(aes, QByteArray(20, 'c'), &n);
        EXPECT_GE(n, 0);
        EXPECT_EQ(aes.lastError, "QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false.");
    }
}

TEST(FileDescriptors, EncryptDecryptWithTheFixedIv)
{
    const QByteArray key = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    // The descriptor IV is 00 01 .. 0F, the IV of the NIST vector.
    EXPECT_EQ(MBDBParser::encryptFileDescThrow(hex("6bc1bee22e409f96e93d7e117393172a"), key).left(16),
              hex("f58c4c04d6e5f1ba779eabfb5f7bfbd6"));
    const QByteArray plain = QByteArray(20000, 'p') + "end";
    for (int len : {16, 24, 32}) {
        const QByteArray k = filled(len, 'q');
        const QByteArray c = MBDBParser::encryptFileDescThrow(plain, k);
        EXPECT_NE(c, plain);
        EXPECT_EQ(MBDBParser::decryptFileDescThrow(c, k), plain) << len;
    }
    EXPECT_TRUE(MBDBParser::encryptFileDescThrow(QByteArray(), key).isEmpty());
    EXPECT_TRUE(MBDBParser::decryptFileDescThrow(QByteArray(), key).isEmpty());
    try {
        MBDBParser::decryptFileDescThrow("abc", filled(20, 'k'));
        ADD_FAILURE();
    } catch (const AppError& e) {
        EXPECT_EQ(e.text(), "MBDBParser::decryptFileDescThrow, invalid key size.");
    }
    try {
        MBDBParser::encryptFileDescThrow("abc", QByteArray());
        ADD_FAILURE();
    } catch (const AppError& e) {
        EXPECT_EQ(e.text(), "MBDBParser::encryptFileDescThrow, invalid key size.");
    }
    EXPECT_EQ(MBDBParser::descriptorKey("pw", "salt"),
              QCryptographicHash::hash("pwsalt", QCryptographicHash::Sha1).left(16));
}
