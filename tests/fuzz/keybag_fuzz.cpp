// Fuzz target: keybags from a backup's Manifest.plist. The parse must stay
// inside the data, and unlocking (with a fixed password key, so that no
// derivation runs) and unwrapping must handle any value lengths.
#include "base/apperror.h"
#include "itunes/keybag.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Keybag bag = parseKeybag(bytes);
    (void)keybagUInt32(bag.attributes.value(QStringLiteral("ITER")));
    // A keybag without password-wrapped keys is refused with an error.
    try {
        unlockKeybagWithKey(QByteArray(32, '\x5a'), bag);
    } catch (const AppError&) {
        return 0;
    }
    for (auto it = bag.classKeys.cbegin(); it != bag.classKeys.cend(); ++it) {
        (void)unwrapFileKey(bag, it.key(), it.value().value(QStringLiteral("WPKY")));
        (void)unwrapFileKey(bag, it.key(), bytes.left(40));
    }
    return 0;
}
