// LocalDbSelForm: the small dialog that names the local database a backup
// goes into. It offers the existing local databases in an editable list
// (choosing one merges into it, typing a new name creates one) and refuses
// empty and invalid names with a warning, staying open. The name rules are
// those of localDbNameError, shared with the command line.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;

class LocalDbSelForm : public QDialog {
    Q_OBJECT
public:
    // names: the existing local databases in tree order; proposed: the edit
    // text to start with (none when empty).
    LocalDbSelForm(const QStringList& names, const QString& proposed, QWidget* parent = nullptr);

    // The name as entered (not trimmed) after "Confirm"; empty otherwise.
    QString selectedName() const { return m_name; }

    // Runs the dialog modally; the chosen name, or empty when cancelled.
    static QString selectName(const QStringList& names, const QString& proposed, QWidget* parent);

    // What the backup will take, said above the name: one scope as a line
    // of text, several as a list to choose from (the first preselected).
    void setScopes(const QStringList& scopes, int current = 0);
    int selectedScope() const;

private slots:
    void onConfirm();
    void onClose();

private:
    QComboBox* cbLocalDbNames = nullptr;
    QLabel* lbScope = nullptr;
    QComboBox* cbScope = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnClose = nullptr;
    QString m_name;
};
