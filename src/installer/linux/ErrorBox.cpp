#include "installer/ErrorBox.h"

#include <QApplication>
#include <QMessageBox>

#include "framework/Application.h"

namespace qvl {

void ShowErrorBox(const std::string& text) {
    const std::string& title = Application::Title();
    QMessageBox box(QMessageBox::Critical, QString::fromLocal8Bit(title.data(), static_cast<qsizetype>(title.size())),
                    QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace qvl
