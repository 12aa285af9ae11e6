#include "app/mainwindow.h"

#include "app/stylesheet.h"
#include "base/productinfo.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWidget>

namespace {

// A pane's search row: a line edit and a search button.
QWidget* searchRow(QWidget* parent, const char* editName, const char* buttonName)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* edit = new QLineEdit(row);
    edit->setObjectName(QLatin1String(editName));
    auto* button = new QPushButton(row);
    button->setObjectName(QLatin1String(buttonName));
    button->setIcon(QIcon(QStringLiteral(":/res/search.png")));
    layout->addWidget(edit);
    layout->addWidget(button);
    return row;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QCoreApplication::translate("product", product::kName));
    setStyleSheet(styleSheetText());

    auto* central = new QWidget(this);
    auto* centralLayout = new QHBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_splitter->setObjectName(QStringLiteral("splitter"));
    m_splitter->setHandleWidth(1);
    m_splitter->setChildrenCollapsible(false);
    centralLayout->addWidget(m_splitter);

    // Left: devices and local databases.
    auto* left = new QWidget(m_splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(searchRow(left, "txtHandleKeyword", "btnSearchHandle"));
    auto* tree = new QTreeView(left);
    tree->setObjectName(QStringLiteral("treeViewDS"));
    tree->setHeaderHidden(true);
    tree->setFrameShadow(QFrame::Sunken);
    tree->setLineWidth(1);
    leftLayout->addWidget(tree);

    // Middle: the messages of the current chat.
    auto* middle = new QWidget(m_splitter);
    auto* middleLayout = new QVBoxLayout(middle);
    middleLayout->setContentsMargins(0, 0, 0, 0);
    middleLayout->addWidget(searchRow(middle, "txtSMSKeyword", "btnSearchSMS"));
    auto* list = new QTreeView(middle);
    list->setObjectName(QStringLiteral("treeViewSMS"));
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setIndentation(5);
    list->setItemsExpandable(false);
    middleLayout->addWidget(list);
    auto* count = new QLabel(tr("Messages: 0"), middle);
    count->setObjectName(QStringLiteral("lbSMSCount"));
    count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    middleLayout->addWidget(count);

    // Right: the conversation.
    auto* right = new QWidget(m_splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    auto* header = new QWidget(right);
    header->setObjectName(QStringLiteral("lbConversation"));
    header->setAttribute(Qt::WA_StyledBackground);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(10, 0, 10, 0);
    headerLayout->addStretch();
    auto* chatName = new QLabel(header);
    chatName->setObjectName(QStringLiteral("lbChatName"));
    headerLayout->addWidget(chatName);
    headerLayout->addStretch();
    auto* chatImg = new QLabel(header);
    chatImg->setObjectName(QStringLiteral("lbChatImg"));
    chatImg->setFixedSize(32, 32);
    chatImg->setCursor(Qt::PointingHandCursor);
    chatImg->hide();
    headerLayout->addWidget(chatImg);
    rightLayout->addWidget(header);
    auto* bubbles = new QWidget(right);
    bubbles->setObjectName(QStringLiteral("webViewSMS"));
    bubbles->setAttribute(Qt::WA_StyledBackground);
    rightLayout->addWidget(bubbles, 1);

    m_splitter->setSizes({200, 450, 350});
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->setStyleSheet(QStringLiteral("QStatusBar::item{border: 0px}"));
    resize(1000, 680);
}

MainWindow::~MainWindow() = default;
