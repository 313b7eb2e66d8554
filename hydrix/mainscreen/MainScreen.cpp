#include "MainScreen.h"

#include "ui_MainScreen.h"

MainScreen::MainScreen(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::MainScreen>()) {
  ui->setupUi(this);
}

MainScreen::~MainScreen() = default;
