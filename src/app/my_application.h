// The application object: builds the running program in a fixed order
// (tables, pictures with the splash, MIDI endpoint, sound table, main
// window) and takes it down in the reverse order when the main window has
// closed.
#pragma once

#include <QApplication>
#include <memory>

class MidiEndpoint;
class MyWindow;

class MyApplication : public QApplication {
  public:
    // GUI thread.
    MyApplication(int& argc, char** argv);
    ~MyApplication() override;

  private:
    void load_pictures();
    void show_splash(QWidget* splash);

    std::unique_ptr<MidiEndpoint> endpoint_;
    std::unique_ptr<MyWindow> window_;
};
