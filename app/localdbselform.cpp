#include "app/localdbselform.h"

#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"
#include "chatstore/localdatabases.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

LocalDbSelForm::LocalDbSelForm(const QStringList& names, const QString& proposed, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("LocalDbSelForm"));
    setWindowTitle(tr("Select one Database for backup"));
    setStyleSheet(styleSheetText());
    setFixedSize(423, 156);
    setModal(true);
    new WinMovable(this);

    auto* title = new QLabel(windowTitle(), this);
    title->setObjectName(QStringLiteral("lbTitle"));
    auto* prompt = new QLabel(tr("Select current database to merge or enter a new database name:"), this);
    prompt->setObjectName(QStringLiteral("lbPrompt"));
    prompt->setWordWrap(true);
    prompt->setTextFormat(Qt::PlainText);

    cbLocalDbNames = new QComboBox(this);
    cbLocalDbNames->setObjectName(QStringLiteral("cbLocalDbNames"));
    cbLocalDbNames->setEditable(true);
    cbLocalDbNames->setInsertPolicy(QComboBox::NoInsert);
    cbLocalDbNames->setToolTip(
        tr("Selecting current Database will merge data;entering new DB name will create a new Database."));
    cbLocalDbNames->addItem(QString());
    cbLocalDbNames->addItems(names);
    cbLocalDbNames->setCurrentIndex(-1);
    cbLocalDbNames->setEditText(proposed);

    lbScope = new QLabel(this);
    lbScope->setObjectName(QStringLiteral("lbScope"));
    lbScope->setTextFormat(Qt::PlainText);
    lbScope->setWordWrap(true);
    lbScope->hide();
    cbScope = new QComboBox(this);
    cbScope->setObjectName(QStringLiteral("cbScope"));
    cbScope->hide();

    btnOK = new QPushButton(tr("Confirm"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnClose = new QPushButton(tr("Cancel"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    connect(btnOK, &QPushButton::clicked, this, &LocalDbSelForm::onConfirm);
    connect(btnClose, &QPushButton::clicked, this, &LocalDbSelForm::onClose);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(15, 8, 15, 10);
    layout->addWidget(title);
    layout->addWidget(lbScope);
    layout->addWidget(cbScope);
    layout->addWidget(prompt);
    layout->addWidget(cbLocalDbNames);
    layout->addStretch();
    layout->addLayout(buttons);
}

void LocalDbSelForm::setScopes(const QStringList& scopes, int current)
{
    cbScope->clear();
    cbScope->addItems(scopes);
    cbScope->setCurrentIndex(scopes.isEmpty() ? -1 : qBound(0, current, int(scopes.size()) - 1));
    cbScope->setVisible(scopes.size() > 1);
    lbScope->setText(scopes.size() == 1 ? tr("Backs up %1.").arg(scopes.first()) : tr("Back up:"));
    lbScope->setVisible(!scopes.isEmpty());
    // Room for the extra lines.
    setFixedSize(423, 156 + (scopes.isEmpty() ? 0 : 30) + (scopes.size() > 1 ? 30 : 0));
}

int LocalDbSelForm::selectedScope() const
{
    return cbScope->currentIndex();
}

void LocalDbSelForm::onConfirm()
{
    const QString name = cbLocalDbNames->currentText();
    const QString problem = localDbNameError(name);
    if (!problem.isEmpty()) {
        warningBox(problem);
        return;
    }
    m_name = name;
    accept();
}

void LocalDbSelForm::onClose()
{
    m_name.clear();
    reject();
}

QString LocalDbSelForm::selectName(const QStringList& names, const QString& proposed, QWidget* parent)
{
    LocalDbSelForm form(names, proposed, parent);
    return form.exec() == QDialog::Accepted ? form.selectedName() : QString();
}
