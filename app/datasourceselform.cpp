#include "app/datasourceselform.h"

#include "app/messagebox.h"
#include "app/stylesheet.h"
#include "app/winmovable.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

DataSourceSelForm::DataSourceSelForm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("DataSourceSelForm"));
    setFixedSize(421, 152);

    lbSelDevice = new QLabel(tr("IDS_TITLE_SELECT_ONE_DEVICE_TO_TRANSFER"), this);
    lbSelDevice->setObjectName(QStringLiteral("lbSelDevice"));
    lbSelDevice->setGeometry(10, 20, 401, 16);

    cbDevice = new QComboBox(this);
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    cbDevice->setEditable(false);
    cbDevice->setGeometry(10, 50, 401, 22);

    auto* layoutWidget = new QWidget(this);
    layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
    layoutWidget->setGeometry(100, 100, 211, 25);
    auto* row = new QHBoxLayout(layoutWidget);
    row->setContentsMargins(0, 0, 0, 0);
    btnOK = new QPushButton(tr("Confirm"), layoutWidget);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnClose = new QPushButton(tr("Cancel"), layoutWidget);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    row->addWidget(btnOK);
    row->addSpacerItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    row->addWidget(btnClose);

    setStyleSheet(styleSheetText());
    new WinMovable(this);
    connect(btnOK, &QPushButton::pressed, this, &DataSourceSelForm::onBtnOkPressed);
    connect(btnClose, &QPushButton::pressed, this, &QDialog::reject);
}

void* DataSourceSelForm::chooseDataSource(const QString& prompt, const QList<Candidate>& candidates)
{
    lbSelDevice->setText(prompt);
    cbDevice->clear();
    for (const Candidate& c : candidates)
        cbDevice->addItem(QIcon(c.iconPath), c.name, QVariant::fromValue(c.target));
    // With a real choice to make, nothing is preselected.
    cbDevice->setCurrentIndex(candidates.size() < 2 ? 0 : -1);
    if (exec() != QDialog::Accepted || cbDevice->currentIndex() < 0)
        return nullptr;
    return cbDevice->currentData().value<void*>();
}

void DataSourceSelForm::onBtnOkPressed()
{
    if (cbDevice->currentIndex() < 0) {
        warningBox(tr("IDS_PLEASE_SELECT_ONE_DATASOURCE"));
        return;
    }
    accept();
}

void* chooseDataSource(QWidget* parent, const QString& prompt, const QList<DataSourceSelForm::Candidate>& candidates)
{
    DataSourceSelForm form(parent);
    return form.chooseDataSource(prompt, candidates);
}
