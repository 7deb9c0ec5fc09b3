// The strip along the window's foot: the power state, the rails, the backlights, the
// camera board's state, the controller's last log line and the answer to the last command
// that failed.
#pragma once

#include <QJsonObject>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace scope {

struct StatusTexts {
    QString power;
    QString rails;
    QString backlights;
    QString camera;
};

// The board's state (as `ostrix-sim status` gives it) in words.
StatusTexts describeStatus(const QJsonObject& status);

// A log line as the console shows it, without its colour codes.
QString withoutColourCodes(const QString& line);

// The last line of the newest controller log file (QLM_logfile_NNNN.log) in `folder`, or
// empty.
QString lastLogLine(const QString& folder);

class StatusStrip : public QWidget {
    Q_OBJECT
public:
    explicit StatusStrip(QWidget* parent = nullptr);

    void showStatus(const StatusTexts& texts);
    void showLogLine(const QString& line);
    void showAnswer(const QString& command, bool ok, const QString& text);

private:
    QLabel* state_;
    QLabel* log_;
    QLabel* answer_;
};

} // namespace scope
