// The web page of the bubble view. It never navigates by itself: every link
// the user clicks is handed out as linkClicked(QUrl), our own attachment
// links ("atta:") included, and nothing but the documents the program sets
// is loaded. Page content runs no scripts; the program's own scripts run in
// a world of their own.
#pragma once

#include <QUrl>
#include <QWebEnginePage>

class BubbleWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit BubbleWebPage(QObject* parent = nullptr);

signals:
    void linkClicked(const QUrl& url);

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
};
