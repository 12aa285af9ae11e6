// parseVCards: builds cards from the tokenizer's callbacks.
#include "chatstore/vcardreader.h"

#include "chatstore/vcardtokenizer.h"

namespace {

// Each property costs far more memory than the few bytes of its line; past
// this many the rest of the text is not kept (no real card comes close).
constexpr qsizetype kMaxProperties = 100000;

struct Builder {
    qsizetype properties = 0;
    QList<VCard> cards;
    bool cardOpen = false;
    VCardProperty* current = nullptr;  // the property whose value is arriving
};

void onPropertyStart(void* user, const char* name, size_t nameLength, const VCardParam* params, size_t count)
{
    auto* b = static_cast<Builder*>(user);
    b->current = nullptr;
    const QByteArray n(name, static_cast<qsizetype>(nameLength));
    if (n == "BEGIN") {
        b->cards.append(VCard());
        b->cardOpen = true;
        return;
    }
    if (n == "END") {
        b->cardOpen = false;
        return;
    }
    if (!b->cardOpen || b->properties >= kMaxProperties)
        return;
    ++b->properties;
    VCardProperty prop;
    prop.name = QString::fromUtf8(n);
    for (size_t i = 0; i < count; ++i)
        prop.params.insert(QString::fromUtf8(params[i].name, static_cast<qsizetype>(params[i].nameLength)),
                           QString::fromUtf8(params[i].value, static_cast<qsizetype>(params[i].valueLength)));
    b->cards.last().properties.append(std::move(prop));
    b->current = &b->cards.last().properties.last();
}

void onValueData(void* user, const char* data, size_t length)
{
    auto* b = static_cast<Builder*>(user);
    if (!b->current)
        return;
    if (!data && length == 0) {
        b->current = nullptr;
        return;
    }
    b->current->value.append(data, static_cast<qsizetype>(length));
}

} // namespace

const VCardProperty* VCard::property(const QString& name) const
{
    for (const VCardProperty& p : properties)
        if (p.name == name)
            return &p;
    return nullptr;
}

QList<VCard> parseVCards(const QByteArray& text)
{
    Builder builder;
    VCardTokenizer tokenizer;
    tokenizer.setCallbacks(onPropertyStart, onValueData, &builder);
    tokenizer.feed(text.constData(), static_cast<size_t>(text.size()), true);
    return builder.cards;
}
