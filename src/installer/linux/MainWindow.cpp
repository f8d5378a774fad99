#include "installer/MainWindow.h"

#include <QCheckBox>
#include <QPixmap>
#include <QPushButton>

#include "installer/linux/MainWindowView.h"

namespace qvl {

void MainWindow::Tick(bool program, bool blockchain) {
    view_->CheckBox1->setChecked(program);
    view_->CheckBox2->setChecked(blockchain);
}

void MainWindow::Show() { view_->show(); }

void MainWindow::PressNext() { view_->Button1->click(); }

bool MainWindow::SavePicture(const std::string& file) {
    // Picture() puts the lines that wait for the log's next frame into it first.
    return view_->Picture().save(QString::fromLocal8Bit(file.data(), static_cast<qsizetype>(file.size())), "PNG");
}

void MainWindow::Close() { view_->close(); }

}  // namespace qvl
