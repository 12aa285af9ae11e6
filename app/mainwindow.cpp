#include "app/mainwindow.h"

#include "base/productinfo.h"

#include <QSplitter>
#include <QTreeView>
#include <QWidget>

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(tr(product::kName));
    m_splitter = new QSplitter(Qt::Horizontal, this);
    auto* tree = new QTreeView(m_splitter);
    tree->setObjectName(QStringLiteral("treeView"));
    auto* list = new QTreeView(m_splitter);
    list->setObjectName(QStringLiteral("listView"));
    auto* bubbles = new QWidget(m_splitter);
    bubbles->setObjectName(QStringLiteral("bubbleView"));
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 2);
    m_splitter->setStretchFactor(2, 2);
    setCentralWidget(m_splitter);
    resize(1100, 700);
}

MainWindow::~MainWindow() = default;
