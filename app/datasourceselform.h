// The dialog that asks the user to pick one target device from a list.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;

class DataSourceSelForm : public QDialog {
    Q_OBJECT
public:
    // One entry of the list: what it looks like and what it stands for.
    struct Candidate {
        QString iconPath;
        QString name;
        void* target = nullptr;  // a tree node of the caller's
    };

    explicit DataSourceSelForm(QWidget* parent = nullptr);

    // Shows prompt and candidates and runs the dialog; the chosen
    // candidate's target, or null when the user cancelled.
    void* chooseDataSource(const QString& prompt, const QList<Candidate>& candidates);

    QLabel* lbSelDevice = nullptr;
    QComboBox* cbDevice = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnClose = nullptr;

public slots:
    void onBtnOkPressed();
};

// Convenience: a dialog with parent, run once.
void* chooseDataSource(QWidget* parent, const QString& prompt, const QList<DataSourceSelForm::Candidate>& candidates);
