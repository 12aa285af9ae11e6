// The keybag of an encrypted iTunes backup ("BackupKeyBag" of Manifest.plist):
// keybag-wide attributes and the class keys, each wrapped with a key derived
// from the backup password. Keybag bytes come from the backup folder and are
// hostile until checked: lengths are bounded by the data and iteration counts
// by kMaxKeybagIterations before any derivation starts.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>

struct Keybag {
    // Keybag-wide values: "UUID", "WRAP", "SALT", "ITER", "DPIC", "DPSL", ...
    QMap<QString, QByteArray> attributes;
    // Class number -> that class's tags ("UUID", "CLAS", "WRAP", "WPKY",
    // "KTYP", "PBKY", and "KEY" once unlocked).
    QMap<quint32, QMap<QString, QByteArray>> classKeys;

    bool isEmpty() const { return attributes.isEmpty() && classKeys.isEmpty(); }
};

// Iteration counts above this are refused: no phone writes such values and a
// hostile keybag could otherwise keep the program busy for days.
inline constexpr quint32 kMaxKeybagIterations = 50000000;

// A big-endian unsigned value of up to 4 bytes (shorter values are read as
// the leading bytes of a 4-byte value).
quint32 keybagUInt32(const QByteArray& bytes);

Keybag parseKeybag(const QByteArray& bytes);

// The 32-byte key that unwraps the class keys: PBKDF2-HMAC-SHA256 (DPSL,
// DPIC) then PBKDF2-HMAC-SHA1 (SALT, ITER) when DPIC and DPSL are present,
// else only the SHA-1 pass. Throws AppError for an iteration count of 0 or
// above kMaxKeybagIterations. The rounds run in slices; between two slices
// `cancelled` (when given) is asked, and JobCancelled thrown when it says so.
QByteArray keybagPasswordKey(const QString& password, const Keybag& keybag,
                             const std::function<bool()>& cancelled = {});

// Unwraps every class key that the password protects (WRAP bit 2) and stores
// it as "KEY". False when one of them does not unwrap (a wrong password).
// Throws AppError for iteration counts out of bounds.
bool unlockKeybag(const QString& password, Keybag& keybag, const std::function<bool()>& cancelled = {});
// The same with the password key already derived.
bool unlockKeybagWithKey(const QByteArray& passwordKey, Keybag& keybag);

// The file key of a wrapped key (without the 4 leading bytes of an
// "EncryptionKey" or "ManifestKey" value): empty when the class is missing or
// locked, the wrapped key is not exactly 40 bytes, or the unwrap fails.
QByteArray unwrapFileKey(const Keybag& keybag, quint32 protectionClass, const QByteArray& wrappedKey);
