// The window's side of the online services: the advert in the status-bar
// label, the obsolete-version box, the error report after every error box
// and the Tools menu's "Check for Update". MainWindow creates it with the
// vendor host (empty: everything here stays inert) and hands it the two
// start-up answers from its slots.
#pragma once

#include "online/onlineservices.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class QAction;
class QLabel;
class QWidget;

class OnlineCommands : public QObject {
    Q_OBJECT
public:
    using Opener = std::function<void(const QUrl&)>;
    using Quitter = std::function<void()>;

    OnlineCommands(const QString& host, const QString& dataFolder, QWidget* window);
    ~OnlineCommands() override;

    OnlineServices* services() const { return m_services; }
    bool isEnabled() const { return m_services->isEnabled(); }

    // Where links go (default: the desktop's browser) and how the program
    // ends after "Download" (default: the event loop's normal end, so the
    // window and the watcher shut down in order). Tests replace both.
    void setOpener(Opener opener) { m_opener = std::move(opener); }
    void setQuitter(Quitter quitter) { m_quitter = std::move(quitter); }

    // The status-bar label: shows the stored advert and opens its http and
    // https links only.
    void attachLabel(QLabel* label);
    // "Check for Update": enabled with a host, else disabled with a note.
    void setUpCheckUpdateAction(QAction* action) const;

    // Construction step 12: installs the error report and sends the daily
    // check when it is due.
    void start();

    // The two start-up answers, from MainWindow's slots.
    void takeUpdateAnswer(const OnlineAnswer& answer);
    void takeAdvertAnswer(const OnlineAnswer& answer);

    // "Check for Update": the vendor's update page in the browser.
    void openUpdatePage();

    // The obsolete box's text.
    static QString obsoleteText();

private:
    void openAdvertLink(const QString& link);
    void showObsoleteBoxWhenFree();

    OnlineServices* m_services;
    QWidget* m_window;
    QPointer<QLabel> m_label;
    QUrl m_obsoleteLink;
    bool m_obsoleteShown = false;
    bool m_reportInstalled = false;
    Opener m_opener;
    Quitter m_quitter;
};
