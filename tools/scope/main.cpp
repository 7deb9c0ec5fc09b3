// ostrix-scope: the microscope on the desktop, on the board of a running system.
#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "tools/scope/ScopeWindow.h"

namespace {

constexpr int kUsageError = 2;
int signalPipe[2] = {-1, -1};

// SIGTERM and SIGINT end the event loop, so the window closes as after its close button.
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
}

bool quitOnSignals(QApplication& app) {
    if (pipe(signalPipe) != 0) {
        return false;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    return true;
}

void printStats(const scope::EyepieceFeed::Stats& stats) {
    const uint64_t drawings = stats.draws + stats.bands;
    printf(
        "ostrix-scope: %llu refreshes, %llu panels drawn whole and %llu in their moving rows, %.1f ms CPU a "
        "drawing\n",
        static_cast<unsigned long long>(stats.ticks), static_cast<unsigned long long>(stats.draws),
        static_cast<unsigned long long>(stats.bands),
        drawings ? stats.drawCpuSeconds * 1000 / double(drawings) : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    scope::ScopeOptions options;
    QString error;
    if (app.arguments().contains(QStringLiteral("--help")) ||
        app.arguments().contains(QStringLiteral("-h"))) {
        fputs(scope::kScopeUsage, stdout);
        return 0;
    }
    if (!scope::parseOptions(app.arguments(), options, error)) {
        fprintf(stderr, "ostrix-scope: %s\n%s", qPrintable(error), scope::kScopeUsage);
        return kUsageError;
    }
    std::string openError;
    std::unique_ptr<scope::BoardLink> link = scope::BoardLink::open(options.root.toStdString(), openError);
    if (!link) {
        fprintf(stderr, "ostrix-scope: %s\n", openError.c_str());
        return 1;
    }
    quitOnSignals(app);
    scope::ScopeWindow window(*link, options);
    window.resize(window.screen()->availableGeometry().size());
    window.showMaximized();
    const int status = app.exec();
    if (options.stats) {
        printStats(window.feedStats());
    }
    return status;
}
