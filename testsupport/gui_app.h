#pragma once
// The one QApplication of a GUI test executable, made on first use under the executable's name
// (ctest runs GUI tests on the offscreen platform). Header only: the test support library itself
// does not link Qt.

#include <QApplication>
#include <cerrno>

namespace testsupport {

inline QApplication& gui_app() {
    static int argc = 1;
    static char* argv[] = {program_invocation_short_name, nullptr};
    if (!qApp) new QApplication(argc, argv);
    return *static_cast<QApplication*>(QCoreApplication::instance());
}

}  // namespace testsupport
