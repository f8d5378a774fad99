#pragma once
// Form1: the window's view and its logic, made and destroyed together. The controls exist before
// the logic runs its construction; "Next" reaches the logic through the application's guard, so
// an exception of a task ends up in the error box and the window stays usable.
#include <functional>
#include <memory>

namespace qvl {

class MainWindowView;
class TForm1;

class MainWindow {
public:
    // Builds the controls, lets `prepare` set up the view (a log sink, a message box handler),
    // then makes TForm1 (components and construction logic). Raises whatever TForm1 raises;
    // nothing is left over then and nothing has been shown.
    explicit MainWindow(const std::function<void(MainWindowView&)>& prepare = {});
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    MainWindowView& View() const { return *view_; }
    TForm1& Form() const { return *form_; }

private:
    std::unique_ptr<MainWindowView> view_;
    std::unique_ptr<TForm1> form_;
};

}  // namespace qvl
