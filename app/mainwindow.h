// The three-pane main window: device and database tree, message list, and
// the chat bubble view.
#pragma once

#include <QMainWindow>

class QSplitter;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

private:
    QSplitter* m_splitter = nullptr;
};
