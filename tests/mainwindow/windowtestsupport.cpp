#include "windowtestsupport.h"

#include "app/mainwindow.h"

#include "base/datafolder.h"
#include "base/fileutil.h"
#include "chatstore/displayrules.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QElapsedTimer>
#include <QTest>
#include <QTextDocument>

BoxAnswerer::BoxAnswerer(bool yes) : yes(yes)
{
    m_timer.setInterval(20);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible())
                continue;
            texts << box->text();
            QTextDocument doc;
            if (box->textFormat() == Qt::PlainText)
                doc.setPlainText(box->text());
            else
                doc.setHtml(box->text());
            shown << doc.toPlainText();
            QAbstractButton* button = nullptr;
            if (this->yes)
                button = box->button(QMessageBox::Yes);
            if (!button)
                button = box->button(QMessageBox::No);
            if (!button)
                button = box->button(QMessageBox::Ok);
            if (button)
                button->click();
            else
                box->done(0);
        }
    });
    m_timer.start();
}

BoxAnswerer::~BoxAnswerer() = default;

void resetDataFolder()
{
    removeFolderTree(localDatabasesFolder());
    removeFolderTree(QDir(dataFolder()).filePath(QStringLiteral("virtual_ios")));
    QDir().mkpath(localDatabasesFolder());
}

QString localDbPath(const QString& name)
{
    return QDir(localDatabasesFolder()).filePath(name);
}

QString deviceCopyPath(const QString& name)
{
    return QDir(dataFolder()).filePath(QStringLiteral("virtual_ios/") + name);
}

void addHayWithNeedle(ChatDbBuilder& b, qint64 chat, int count, int needleRow, const QString& needle,
                      const QString& hay, double firstDate)
{
    for (int i = 0; i < count; ++i)
        b.addMessage({.chat = chat,
                      .text = i == needleRow ? needle : QStringLiteral("%1 %2").arg(hay).arg(i),
                      .date = firstDate + i});
}

void buildNamedChats(const QString& root, ChatDbLayout layout, bool deviceStyle, const QStringList& names,
                     int messagesEach)
{
    ChatDbBuilder b(root, layout, deviceStyle);
    const double base = 700000000.0;
    for (int c = 0; c < names.size(); ++c) {
        const qint64 chat = b.addChat(QStringLiteral("49155500%1@s.whatsapp.net").arg(10 + c), names.at(c));
        // The first chat gets the latest messages.
        for (int i = 0; i < messagesEach; ++i)
            b.addMessage({.chat = chat,
                          .text = QStringLiteral("%1 says %2").arg(names.at(c)).arg(i),
                          .fromMe = (i % 2) == 1,
                          .date = base - c * 100000.0 + i * 60.0});
    }
    b.commit();
}

bool waitFor(const std::function<bool()>& pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(10);
    }
    return true;
}

AbsTreeItemModel::_ItemNode* treeChild(AbsTreeItemModel::_ItemNode* node, const QString& text)
{
    for (auto* c : node->children)
        if (c->text == text || c->text.startsWith(text + QLatin1Char('(')))
            return c;
    return nullptr;
}

void selectAnswering(MainWindow& w, AbsTreeItemModel::_ItemNode* node)
{
    BoxAnswerer boxes;
    w.selectNode(node);
}

bool dropPath(QWidget& target, const QString& path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &dropped);
    return enter.isAccepted();
}
