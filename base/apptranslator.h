// The program's translator over the embedded ":/en.qm". The user-interface
// keys (IDS_...) are listed once, without a context, so a key is found
// whichever class passes it through the translator.
#pragma once

#include <QTranslator>

class AppTranslator : public QTranslator {
    Q_OBJECT
public:
    using QTranslator::QTranslator;

    // Loads ":/en.qm"; false when the resource is missing.
    bool loadEmbedded();

    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override;
};
