#include "installer/MainWindow.h"

#include "installer/windows/MainWindowView.h"

namespace qvl {

void MainWindow::Tick(bool program, bool blockchain) {
    ::SendMessageA(view_->CheckBox1, BM_SETCHECK, program ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendMessageA(view_->CheckBox2, BM_SETCHECK, blockchain ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::Show() { view_->Show(); }

// The click as the button reports it to its window.
void MainWindow::PressNext() {
    ::SendMessageA(view_->Panel1, WM_COMMAND, MAKEWPARAM(MainWindowView::kButton1Id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(view_->Button1));
}

bool MainWindow::SavePicture(const std::string& file) { return view_->SavePicture(file); }

void MainWindow::Close() { view_->Close(); }

}  // namespace qvl
