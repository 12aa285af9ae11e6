// Fuzz target: the vCard tokenizer fed in two pieces, and parseVCards.
#include "chatstore/vcardreader.h"
#include "chatstore/vcardtokenizer.h"

#include <cstdint>
#include <cstring>

namespace {
volatile unsigned char g_sink;

void touch(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        g_sink = static_cast<unsigned char>(g_sink ^ static_cast<unsigned char>(p[i]));
}

void onStart(void*, const char* name, size_t nameLength, const VCardParam* params, size_t count)
{
    touch(name, nameLength);
    for (size_t i = 0; i < count; ++i) {
        touch(params[i].name, params[i].nameLength);
        touch(params[i].value, params[i].valueLength);
    }
}

void onValue(void*, const char* data, size_t length)
{
    if (data)
        touch(data, length);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const size_t split = size ? data[0] % (size + 1) : 0;
    VCardTokenizer t;
    t.setCallbacks(onStart, onValue, nullptr);
    if (t.feed(text, split, false))
        t.feed(text + split, size - split, true);

    const QList<VCard> cards = parseVCards(QByteArray(text, static_cast<qsizetype>(size)));
    for (const VCard& c : cards)
        if (const VCardProperty* p = c.property(QStringLiteral("PHOTO")))
            touch(p->value.constData(), static_cast<size_t>(p->value.size()));
    return 0;
}
