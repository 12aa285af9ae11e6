// The link and folder commands of the main window: opening the local
// databases' folder, the vendor's web pages (Help, Feedback, Home), the
// About box, and the chat picture of the header strip.
#pragma once

#include "chatstore/abswamsgssource.h"

#include <QObject>

class MainWindow;
class QAction;

class LinkCommands : public QObject {
    Q_OBJECT
public:
    explicit LinkCommands(MainWindow* window);

    QAction* openDbFolderAction() const { return m_actOpenDbFolder; }
    QAction* helpAction() const { return m_actHelp; }
    QAction* feedbackAction() const { return m_actFeedback; }
    QAction* aboutAction() const { return m_actAbout; }
    QAction* homeAction() const { return m_actHome; }

    void openDatabaseFolder();
    void help();
    void feedback();
    void home();
    void about();
    // Opens a copy of the chat's picture (the full picture when there is
    // one, else its thumbnail); nothing without a chat.
    void openChatPicture(const PChatSession& chat);

private:
    void openVendorPage(const QString& path);

    MainWindow* m_window;
    QAction* m_actOpenDbFolder = nullptr;
    QAction* m_actHelp = nullptr;
    QAction* m_actFeedback = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actHome = nullptr;
};
