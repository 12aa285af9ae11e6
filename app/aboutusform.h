// The About box: the program's picture, name and version, the vendor line
// and a link to the vendor's home page (left out when the build names no
// vendor web server).
#pragma once

#include <QDialog>

class QGraphicsView;
class QLabel;
class QPushButton;

class AboutUsForm : public QDialog {
    Q_OBJECT
public:
    explicit AboutUsForm(QWidget* parent = nullptr);

    QLabel* lbTitle = nullptr;
    QGraphicsView* picApp = nullptr;
    QLabel* lbProduct = nullptr;
    QLabel* lbCopyRight = nullptr;
    QLabel* lbHomePage = nullptr;
    QPushButton* btnOK = nullptr;
};
