// The main window of hydrix.
#pragma once

#include <QMainWindow>
#include <memory>

namespace Ui {
class MainScreen;
}

class MainScreen : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainScreen(QWidget* parent = nullptr);
  ~MainScreen() override;

 private:
  std::unique_ptr<Ui::MainScreen> ui;
};
