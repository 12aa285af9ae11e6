#include "app/bubblewebpage.h"

#include <QWebEngineSettings>

BubbleWebPage::BubbleWebPage(QObject* parent) : QWebEnginePage(parent)
{
    QWebEngineSettings* s = settings();
    // Links of unknown schemes ("atta:") must reach acceptNavigationRequest
    // even when they were not clicked by hand, and never go to the desktop.
    s->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowAllUnknownUrlSchemes);
    // A page of chat text needs no scripts of its own.
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
}

bool BubbleWebPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    // The documents the program sets itself arrive as typed loads.
    if (type == NavigationTypeTyped || type == NavigationTypeReload)
        return true;
    if (type == NavigationTypeLinkClicked && isMainFrame)
        emit linkClicked(url);
    return false;
}
