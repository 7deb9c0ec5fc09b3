#include "tools/scope/StatusStrip.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace scope {

namespace {

// Enough for the longest log line.
constexpr qint64 kLogTailBytes = 4096;

QString railsText(const QJsonObject& rails) {
    QStringList off;
    for (auto it = rails.begin(); it != rails.end(); ++it) {
        if (!it.value().toBool()) {
            off << it.key();
        }
    }
    QString text = QObject::tr("rails: %1 of %2 on").arg(rails.size() - off.size()).arg(rails.size());
    if (!off.isEmpty() && off.size() < rails.size()) {
        text += QObject::tr(" (%1 off)").arg(off.join(QStringLiteral(", ")));
    }
    return text;
}

QString cameraText(const QJsonObject& camera) {
    QString state;
    if (camera.isEmpty() || !camera.value(QStringLiteral("fitted")).toBool()) {
        state = QObject::tr("not fitted");
    } else if (!camera.value(QStringLiteral("plugged")).toBool()) {
        state = QObject::tr("unplugged");
    } else if (!camera.value(QStringLiteral("present")).toBool()) {
        state = QObject::tr("no power");
    } else if (camera.value(QStringLiteral("boot_loader")).toBool()) {
        state = QObject::tr("in its boot loader");
    } else if (camera.value(QStringLiteral("link_up")).toBool()) {
        state = QObject::tr("link up");
    } else {
        state = QObject::tr("starting");
    }
    const QString fault = camera.value(QStringLiteral("fault")).toString();
    if (!fault.isEmpty() && fault != QStringLiteral("none")) {
        state += QObject::tr(", fault: %1").arg(fault);
    }
    return QObject::tr("camera: %1").arg(state);
}

} // namespace

StatusTexts describeStatus(const QJsonObject& status) {
    const QJsonObject power = status.value(QStringLiteral("power")).toObject();
    const QJsonObject backlights = power.value(QStringLiteral("backlights")).toObject();
    StatusTexts texts;
    texts.power =
        QObject::tr("power: %1").arg(power.value(QStringLiteral("state")).toString(QStringLiteral("?")));
    texts.rails = railsText(power.value(QStringLiteral("rails")).toObject());
    texts.backlights = QObject::tr("backlights: %1 / %2 of 255")
                           .arg(backlights.value(QStringLiteral("left")).toInt())
                           .arg(backlights.value(QStringLiteral("right")).toInt());
    texts.camera = cameraText(status.value(QStringLiteral("camera")).toObject());
    return texts;
}

QString withoutColourCodes(const QString& line) {
    static const QRegularExpression colour(QStringLiteral("\x1b\\[[0-9;]*[A-Za-z]"));
    return QString(line).remove(colour).trimmed();
}

QString lastLogLine(const QString& folder) {
    const QStringList logs =
        QDir(folder).entryList({QStringLiteral("QLM_logfile_*.log")}, QDir::Files, QDir::Name);
    if (logs.isEmpty()) {
        return {};
    }
    QFile file(folder + QLatin1Char('/') + logs.last());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    file.seek(std::max<qint64>(0, file.size() - kLogTailBytes));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : withoutColourCodes(lines.last());
}

StatusStrip::StatusStrip(QWidget* parent)
    : QWidget(parent), state_(new QLabel(this)), log_(new QLabel(this)), answer_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(1);
    for (QLabel* label : {state_, log_, answer_}) {
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        layout->addWidget(label);
    }
    log_->setText(tr("log: -"));
}

void StatusStrip::showStatus(const StatusTexts& texts) {
    state_->setText(QStringLiteral("<b>%1</b> &nbsp;|&nbsp; %2 &nbsp;|&nbsp; %3 &nbsp;|&nbsp; %4")
                        .arg(texts.power.toHtmlEscaped(), texts.rails.toHtmlEscaped(),
                             texts.backlights.toHtmlEscaped(), texts.camera.toHtmlEscaped()));
}

void StatusStrip::showLogLine(const QString& line) {
    log_->setText(tr("log: %1").arg(line.isEmpty() ? QStringLiteral("-") : line));
}

// Answers that went well say nothing new: only a refusal is worth the user's eye.
void StatusStrip::showAnswer(const QString& command, bool ok, const QString& text) {
    if (ok) {
        return;
    }
    answer_->setText(
        tr("<span style='color:#c02020'>%1: %2</span>").arg(command.toHtmlEscaped(), text.toHtmlEscaped()));
}

} // namespace scope
