// Helpers of the main window's tests: answering the modal boxes the window
// opens, and laying out a data folder with local databases and saved device
// copies.
#pragma once

#include "app/abstreeitemmodel.h"
#include "tools/fixturebuilder/chatdbbuilder.h"

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

// While alive, answers every message box that opens: with Yes when the box
// offers it and `yes` is set, else No, else OK; records each box's text, and
// in `shown` the text as the user reads it (markup rendered).
class BoxAnswerer {
public:
    explicit BoxAnswerer(bool yes = true);
    ~BoxAnswerer();
    QStringList texts;
    QStringList shown;
    bool yes;

private:
    QTimer m_timer;
};

// Empties local_databases and virtual_ios of the tests' data folder.
void resetDataFolder();
QString localDbPath(const QString& name);
QString deviceCopyPath(const QString& name);

// A chat database with chats named as given, the first the newest; each
// chat gets `messagesEach` text messages "<name> says <i>".
void buildNamedChats(const QString& root, ChatDbLayout layout, bool deviceStyle, const QStringList& names,
                     int messagesEach);

// `count` text messages "<hay> <i>" in `chat`, one a second from
// `firstDate`, except row `needleRow`, which says `needle`.
void addHayWithNeedle(ChatDbBuilder& b, qint64 chat, int count, int needleRow, const QString& needle,
                      const QString& hay = QStringLiteral("hay"), double firstDate = 700000000.0);

class MainWindow;

// The child of a tree node named `text`; a chat node's text adds its number,
// "Anna(4915...)", which need not be given.
AbsTreeItemModel::_ItemNode* treeChild(AbsTreeItemModel::_ItemNode* node, const QString& text);
// Selects a node the way a click does, answering any box that opens.
void selectAnswering(MainWindow& w, AbsTreeItemModel::_ItemNode* node);

// Drags the local path onto the widget and drops it there, as a file
// manager does; true when the window took the drag.
bool dropPath(QWidget& target, const QString& path);

// Waits for the condition while the event loop runs; the limit only ends a
// broken test, a loaded machine never reaches it.
bool waitFor(const std::function<bool()>& pred, int ms = 60000);
