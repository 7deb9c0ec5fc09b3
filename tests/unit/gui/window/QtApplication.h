// The one Qt application of a window test process, on Qt's offscreen platform.
#pragma once

#include <QApplication>

// Kept for the whole process: Qt's offscreen platform does not free all of its screen
// objects when the application object goes.
inline QApplication& application() {
    static int argc = 1;
    static char name[] = "Ostrix_Gui_test";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
