// The application object: builds the running program in a fixed order
// (tables, pictures with the splash, the sound player's opening, main
// window, streaming reader, then the MIDI endpoint once the window is
// drawn) and takes it down in the reverse order when the main window has
// closed. It owns the engine's services and the main window that uses them.
#pragma once

#include <QApplication>
#include <memory>

class EngineServices;
class MyWindow;

class MyApplication : public QApplication {
  public:
    // GUI thread.
    MyApplication(int& argc, char** argv);
    ~MyApplication() override;

  private:
    void load_pictures();

    std::unique_ptr<EngineServices> services_;
    std::unique_ptr<MyWindow> window_;
};
